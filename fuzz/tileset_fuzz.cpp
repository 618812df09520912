// Feeds arbitrary bytes to the tileset readers (TSX when the first byte is even, TSJ when odd)
// and edits what reads: nothing may crash, every refusal is 481 naming the file, and an
// edited tileset reads back with the tiles it was given.
// sources: tiled/xmltree.cpp tiled/tmxformat.cpp tiled/tmjformat.cpp tiled/tiledvalues.cpp tiled/tiledmodel.cpp tiled/layerdata.cpp tiled/tiledfiles.cpp tiled/tmxedit.cpp tiled/templates.cpp runtime/runtimeerror.cpp runtime/wholefile.cpp runtime/roomyheap.cpp runtime/parallel.cpp runtime/atomicfile.cpp runtime/descriptor.cpp runtime/paths.cpp runtime/destination.cpp
// packages: Qt6Gui zlib libzstd
// options: -max_len=8192

#include "runtime/runtimeerror.h"
#include "tiled/tiledits.h"
#include "tiled/tmjformat.h"
#include "tiled/tmxformat.h"

#include <cstdint>
#include <cstdlib>

namespace {
const QString File = QStringLiteral("/fuzz/set.tsx");
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    try {
        if (data[0] % 2 == 1) {
            ReadTsjTileset(File, ParseJsonObject(File, bytes));
            return 0;
        }
        XmlNode root = ParseXml(File, bytes);
        const TiledTileset tileset = ReadTsxTileset(File, root);
        // Every tile moved one id up reads back as the same tiles one id up.
        RenumberXmlTiles(root, [](int id) { return id + 1; });
        const TiledTileset moved = ReadTsxTileset(File, ParseXml(File, XmlBytes(root)));
        if (moved.tiles.size() != tileset.tiles.size()) {
            std::abort();
        }
        for (const auto& [id, tile] : tileset.tiles) {
            if (moved.tiles.count(id + 1) == 0 || moved.tiles.at(id + 1).properties.size() != tile.properties.size()) {
                std::abort();
            }
        }
    } catch (const RuntimeError& failure) {
        if (failure.Number() != Err::InvalidPicture || failure.File() != File || failure.Description().contains(File)) {
            std::abort();
        }
    }
    return 0;
}
