// Feeds arbitrary bytes to the LDtk project reader. Nothing may crash; every refusal is 481;
// every project read holds a level, each within the reader's bounds.
// sources: ldtk/ldtkreader.cpp ldtk/ldtkvalues.cpp tiled/tiledvalues.cpp tiled/tiledmodel.cpp runtime/runtimeerror.cpp runtime/wholefile.cpp runtime/roomyheap.cpp runtime/parallel.cpp runtime/atomicfile.cpp runtime/descriptor.cpp runtime/paths.cpp runtime/destination.cpp
// packages: Qt6Gui
// options: -max_len=8192

#include "ldtk/ldtkproject.h"
#include "runtime/limits.h"
#include "runtime/runtimeerror.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QString File = QStringLiteral("/fuzz/p.ldtk");
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        const LdtkProject project = ReadLdtkProject(File, bytes);
        if (project.LevelCount() < 1) {
            std::abort();
        }
        for (const LdtkWorld& world : project.worlds) {
            for (const LdtkLevel& level : world.levels) {
                if (level.size.isEmpty() || level.size.width() > Limits::PictureSide || level.size.height() > Limits::PictureSide) {
                    std::abort();
                }
                for (const LdtkLayer& layer : level.layers) {
                    const std::int64_t cells = std::int64_t{layer.cells.width()} * layer.cells.height();
                    if (layer.grid < 1 || cells > Limits::LayerCells ||
                        (layer.type == LdtkLayerType::IntGrid && static_cast<std::int64_t>(layer.intGrid.size()) != cells)) {
                        std::abort();
                    }
                }
            }
        }
    } catch (const RuntimeError& failure) {
        if (failure.Number() != Err::InvalidPicture) {
            std::abort();
        }
    }
    return 0;
}
