#include "imaging/picturefile.h"

#include "imaging/pngreader.h"
#include "imaging/wholefile.h"
#include "platform/bitmapfile.h"
#include "platform/runtimeerror.h"

#include <vector>

QImage LoadPicture(const QString& path) {
    thread_local std::vector<unsigned char> bytes;
    ReadWholeFile(path, bytes);
    if (IsPng(bytes.data(), bytes.size())) {
        return DecodePng(bytes.data(), bytes.size(), MostPixelsFor(static_cast<std::int64_t>(bytes.size())));
    }
    return InTileFormat(LoadBitmapFile(path));
}

QImage InTileFormat(const QImage& image) {
    switch (image.format()) {
    case QImage::Format_Indexed8:
    case QImage::Format_RGBA8888:
        return image;
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB: {
        QImage indexed = image.convertToFormat(QImage::Format_Indexed8);
        if (indexed.isNull()) {
            RaiseError(Err::OutOfMemory);
        }
        return indexed;
    }
    default: {
        QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
        if (rgba.isNull()) {
            RaiseError(Err::OutOfMemory);
        }
        return rgba;
    }
    }
}
