// Feeds arbitrary bytes to the world reader, its patterns matched against a few map names.
// Nothing may crash; every refusal is 481 naming the world; every map read is placed within
// the reader's bounds.
// sources: tiled/worldfile.cpp tiled/xmltree.cpp tiled/tmxformat.cpp tiled/tmjformat.cpp tiled/tiledvalues.cpp tiled/tiledmodel.cpp tiled/layerdata.cpp tiled/tiledfiles.cpp tiled/templates.cpp runtime/runtimeerror.cpp runtime/wholefile.cpp runtime/roomyheap.cpp runtime/parallel.cpp runtime/atomicfile.cpp runtime/descriptor.cpp runtime/paths.cpp runtime/destination.cpp
// packages: Qt6Gui zlib libzstd
// options: -max_len=4096

#include "runtime/runtimeerror.h"
#include "tiled/worldfile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QString File = QStringLiteral("/fuzz/w.world");
    static const QStringList Names = {"a.tmx", "map_0_0.tmx", "map_-3_12.tmj", "map_99999999999_1.tmx", "x_1_2_3.world"};
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        const TiledWorld world = ReadWorld(File, bytes, Names);
        for (const WorldMap& map : world.maps) {
            if (map.file.isEmpty() || std::abs(map.position.x()) > (1 << 28) || std::abs(map.position.y()) > (1 << 28)) {
                std::abort();
            }
        }
        if (world.maps.empty()) {
            std::abort();
        }
    } catch (const RuntimeError& failure) {
        if (failure.Number() != Err::InvalidPicture || failure.File() != File) {
            std::abort();
        }
    }
    return 0;
}
