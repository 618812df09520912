// Feeds arbitrary bytes to the Aseprite decoder. Nothing may crash; every refusal is 481
// naming the file; a picture decoded is the sprite's size, within the picture limits.
// sources: imaging/asepritefile.cpp runtime/runtimeerror.cpp
// packages: Qt6Gui zlib
// options: -max_len=4096

#include "imaging/asepritefile.h"
#include "runtime/limits.h"
#include "runtime/runtimeerror.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QString File = QStringLiteral("/fuzz/a.aseprite");
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        const QImage picture = DecodeAseprite(File, bytes);
        if (picture.isNull() || picture.width() > Limits::PictureSide || picture.height() > Limits::PictureSide) {
            std::abort();
        }
    } catch (const RuntimeError& failure) {
        if ((failure.Number() != Err::InvalidPicture || failure.File() != File) && failure.Number() != Err::OutOfMemory) {
            std::abort();
        }
    }
    return 0;
}
