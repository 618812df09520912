#include "imaging/picturefile.h"

#include "imaging/bitmapfile.h"
#include "imaging/pngreader.h"
#include "runtime/runtimeerror.h"
#include "runtime/wholefile.h"

#include <new>
#include <vector>

namespace {
// Pixels that cannot be held are "Out of memory" about the file, never an abort.
template <class Work>
void decoding(const QString& path, Work&& work) {
    try {
        AboutFile(path, work);
    } catch (const std::bad_alloc&) {
        RaiseError(Err::OutOfMemory, path);
    }
}
}  // namespace

PictureFile::PictureFile(const QString& path) : path_(path) {
    ReadWholeFile(path, bytes_);
    decoding(path, [&] {
        if (IsPng(bytes_.data(), bytes_.size())) {
            png_ = std::make_unique<PngDecoder>(bytes_.data(), bytes_.size(),
                                                MostPixelsFor(static_cast<std::int64_t>(bytes_.size())));
        } else {
            std::vector<unsigned char>().swap(bytes_);
            image_ = InTileFormat(LoadBitmapFile(path));
        }
    });
}

PictureFile::~PictureFile() = default;

const QImage& PictureFile::Image() const { return png_ ? png_->Image() : image_; }

void PictureFile::Decode() {
    if (png_) {
        decoding(path_, [&] { png_->Decode(); });
    }
}

void PictureFile::Check() {
    if (png_) {
        AboutFile(path_, [&] { png_->Check(); });
    }
}

QSize PictureFile::Size() const { return png_ ? png_->Size() : image_.size(); }

QImage LoadPicture(const QString& path) {
    PictureFile file(path);
    file.Decode();
    return file.Image();
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
