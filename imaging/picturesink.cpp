#include "imaging/picturesink.h"

#include "imaging/bitmapfile.h"
#include "imaging/pngchunks.h"
#include "imaging/pngimagedata.h"
#include "runtime/atomicfile.h"
#include "runtime/descriptor.h"
#include "runtime/parallel.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"

#include <algorithm>
#include <cerrno>

namespace {
// Small enough to stay in the caches while a band is made and to cost little memory twice
// over (one band made while the last is written).
constexpr std::int64_t BandBytes = std::int64_t{2} << 20;
// Measured: a sheet built from tile files on every core took a fifth longer in bands of
// BandBytes, where its loading threads start four times as often, while every other banded
// job was as quick or quicker in them than in these.
constexpr std::int64_t TileBandBytes = std::int64_t{8} << 20;
}  // namespace

int BandRows(std::int64_t rowBytes, int unitRows, BandFill fill) {
    const std::int64_t bytes = fill == BandFill::TilesOnEveryCore ? TileBandBytes : BandBytes;
    const std::int64_t unit = std::max(1, unitRows);
    return static_cast<int>(std::max<std::int64_t>(1, bytes / std::max<std::int64_t>(1, rowBytes * unit)) * unit);
}

struct PictureSink::File {
    AtomicFile file;
    std::vector<unsigned char> buffer;  // a bitmap's padded rows
    std::unique_ptr<PngImageData> png;

    void Write(const char* data, std::size_t size) {
        if (!WriteAll(file.Fd(), data, size)) {
            RaiseErrno(errno);
        }
    }
};

PictureSink::PictureSink(const QString& path, QSize size, TileFormat format, const SinkOptions& options)
    : path_(path), size_(size), format_(format), options_(options) {
    if (!options_.background) {
        AboutFile(path_, [&] { start(); });
    }
}

PictureSink::~PictureSink() { wait(); }

void PictureSink::wait() {
    for (std::thread& helper : helper_) {
        helper.join();
    }
    helper_.clear();
    writing_ = QImage();
}

void PictureSink::start() {
    if (file_) {
        return;
    }
    if (!options_.leftoversIn.isEmpty()) {
        RemoveLeftovers(ToFsPath(options_.leftoversIn));
    }
    auto file = std::make_unique<File>();
    if (!file->file.Open(ToFsPath(path_))) {
        RaiseWriteErrno(errno, path_);
    }
    if (format_ == TileFormat::Bmp) {
        unsigned char header[BitmapHeaderBytes];
        EncodeBitmapHeader(size_.width(), size_.height(), header);
        file->Write(reinterpret_cast<const char*>(header), BitmapHeaderBytes);
    } else {
        const QByteArray head = PngHead(size_.width(), size_.height(), {}, false);
        file->Write(head.constData(), static_cast<std::size_t>(head.size()));
    }
    file_ = std::move(file);
}

void PictureSink::write(const QImage& band, int top) {
    start();
    if (format_ == TileFormat::Bmp) {
        WriteBitmapRows(file_->file.Fd(), band, size_.width(), size_.height(), top, file_->buffer);
        return;
    }
    if (!file_->png) {
        const PngFilters filters = options_.filters ? *options_.filters : ChooseFilters(band, 0, band.height(), Deflater::Igzip);
        file_->png = std::make_unique<PngImageData>(size_.width(), QImage::Format_RGBA8888, filters);
    }
    file_->png->Add(band, [&](const char* data, std::size_t size) { file_->Write(data, size); });
}

void PictureSink::WriteRows(const QImage& band) {
    if (band.height() == 0) {
        return;
    }
    const bool bitmap = band.format() == QImage::Format_RGB32 || band.format() == QImage::Format_BGR888;
    if (band.width() != size_.width() || handed_ + band.height() > size_.height() ||
        !(format_ == TileFormat::Bmp ? bitmap
                                     : band.format() == QImage::Format_RGBA8888 || band.format() == QImage::Format_ARGB32_Premultiplied)) {
        RaiseError(Err::InvalidCall);
    }
    const int top = handed_;
    handed_ += band.height();
    if (!options_.background) {
        AboutFile(path_, [&] { write(band, top); });
        return;
    }
    wait();
    if (failure_) {
        return;
    }
    writing_ = band;
    auto work = [this, top] {
        try {
            AboutFile(path_, [&] { write(writing_, top); });
        } catch (...) {
            failure_ = std::current_exception();
            file_.reset();
        }
    };
    // A PNG's parts are compressed on helpers already; without a thread to spare, the band is
    // written before the next is made.
    if (format_ == TileFormat::Png || !StartHelper(helper_, work)) {
        work();
    }
}

void PictureSink::Commit() {
    wait();
    if (failure_) {
        std::rethrow_exception(failure_);
    }
    AboutFile(path_, [&] {
        start();
        if (handed_ != size_.height() || (format_ == TileFormat::Png && !file_->png)) {
            RaiseError(Err::InvalidCall);
        }
        if (format_ == TileFormat::Png) {
            const auto out = [&](const char* data, std::size_t size) { file_->Write(data, size); };
            file_->png->Finish(out);
            const QByteArray tail = PngTail();
            out(tail.constData(), static_cast<std::size_t>(tail.size()));
        }
        if (!file_->file.Commit()) {
            RaiseWriteErrno(errno, path_);
        }
    });
}
