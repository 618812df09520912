#include "imaging/pngbandwriter.h"

#include "imaging/pngchunks.h"
#include "imaging/pngimagedata.h"
#include "runtime/atomicfile.h"
#include "runtime/descriptor.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"

#include <cerrno>

PngBandWriter::PngBandWriter(const QString& path, int width, int height)
    : path_(path), width_(width), height_(height), file_(std::make_unique<AtomicFile>()) {
    if (!file_->Open(ToFsPath(path))) {
        RaiseWriteErrno(errno, path);
    }
    const QByteArray head = PngHead(width, height, {}, false);
    write(head.constData(), static_cast<std::size_t>(head.size()));
}

PngBandWriter::~PngBandWriter() = default;

void PngBandWriter::write(const char* data, std::size_t size) {
    if (!WriteAll(file_->Fd(), data, size)) {
        RaiseWriteErrno(errno, path_);
    }
}

void PngBandWriter::WriteRows(const QImage& band) {
    if (band.format() != QImage::Format_RGBA8888 || band.width() != width_ || written_ + band.height() > height_) {
        RaiseError(Err::InvalidCall);
    }
    if (!data_) {
        data_ = std::make_unique<PngImageData>(width_, QImage::Format_RGBA8888, ChooseFilters(band, 0, band.height()));
    }
    data_->Add(band, [&](const char* data, std::size_t size) { write(data, size); });
    written_ += band.height();
}

void PngBandWriter::Commit() {
    if (written_ != height_ || !data_) {
        RaiseError(Err::InvalidCall);
    }
    data_->Finish([&](const char* data, std::size_t size) { write(data, size); });
    const QByteArray tail = PngTail();
    write(tail.constData(), static_cast<std::size_t>(tail.size()));
    if (!file_->Commit()) {
        RaiseWriteErrno(errno, path_);
    }
}
