// Feeds arbitrary bytes to the map readers: the first byte picks TMX, TMJ, bare layer data
// (its encoding by the second byte), or a template (.tx or .tj). Nothing may crash; every refusal is 481 naming the
// file; layer data that reads writes back to the same gids.
// sources: tiled/xmltree.cpp tiled/tmxformat.cpp tiled/tmjformat.cpp tiled/tiledvalues.cpp tiled/tiledmodel.cpp tiled/layerdata.cpp tiled/tiledfiles.cpp tiled/templates.cpp runtime/runtimeerror.cpp runtime/wholefile.cpp runtime/roomyheap.cpp runtime/parallel.cpp runtime/atomicfile.cpp runtime/descriptor.cpp runtime/paths.cpp runtime/destination.cpp
// packages: Qt6Gui zlib libzstd
// options: -max_len=8192

#include "runtime/runtimeerror.h"
#include "tiled/layerdata.h"
#include "tiled/templates.h"
#include "tiled/tmjformat.h"
#include "tiled/tmxformat.h"

#include <cstdint>
#include <cstdlib>

namespace {
const QString File = QStringLiteral("/fuzz/map");
const QString JsonTemplate = QStringLiteral("/fuzz/map.tj");

void expectRefusal(const RuntimeError& failure) {
    if (failure.Number() != Err::InvalidPicture || (failure.File() != File && failure.File() != JsonTemplate) ||
        failure.Description().contains(File)) {
        std::abort();
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const QByteArray bytes(reinterpret_cast<const char*>(data + 2), static_cast<qsizetype>(size - 2));
    try {
        switch (data[0] % 5) {
        case 0: ReadTmxMap(File, ParseXml(File, bytes), false); break;
        case 1: ReadTmjMap(File, ParseJsonObject(File, bytes), false); break;
        case 3: ReadTemplate(File, bytes, false); break;
        case 4: ReadTemplate(JsonTemplate, bytes, false); break;
        default: {
            static const char* const forms[][2] = {{"csv", ""}, {"base64", ""}, {"base64", "zlib"}, {"base64", "gzip"}, {"base64", "zstd"}};
            const auto& form = forms[data[1] % 5];
            const std::size_t cells = data[1] / 5;
            const auto gids = DecodeLayerData(File, QString::fromLatin1(bytes), form[0], form[1], cells);
            const QString text = EncodeLayerData(File, gids, form[0], form[1], 4);
            if (DecodeLayerData(File, text, form[0], form[1], cells) != gids) {
                std::abort();
            }
        }
        }
    } catch (const RuntimeError& failure) {
        expectRefusal(failure);
    }
    return 0;
}
