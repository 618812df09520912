#include "imaging/sheetbands.h"

#include "imaging/bitmapfile.h"
#include "imaging/picture.h"
#include "imaging/picturefile.h"
#include "imaging/pngreader.h"
#include "runtime/descriptor.h"
#include "runtime/limits.h"
#include "runtime/runtimeerror.h"
#include "runtime/wholefile.h"

#include <cerrno>
#include <utility>

namespace {
QImage newBand(int width, int rows, QImage::Format format) {
    QImage band(width, rows, format);
    if (band.isNull()) {
        RaiseError(Err::OutOfMemory);
    }
    return band;
}
}  // namespace

SheetBands::SheetBands(const QString& path) : path_(path) {
    AboutFile(path, [&] { open(); });
}

SheetBands::SheetBands(const QString& path, PlainOnly) : path_(path) {
    std::int64_t fileSize = 0;
    file_ = std::make_unique<Descriptor>(OpenRegularFile(path, fileSize));
    bitmap_ = std::make_unique<BitmapBands>(file_->get(), fileSize);
    size_ = bitmap_->Size();
}

std::unique_ptr<SheetBands> SheetBands::OfPlainBitmap(const QString& path) {
    std::unique_ptr<SheetBands> sheet;
    try {
        sheet.reset(new SheetBands(path, PlainOnly{}));
    } catch (const RuntimeError&) {
        return nullptr;
    }
    const QSize size = sheet->size_;
    if (!sheet->bitmap_->Plain() || size.width() > Limits::PictureSide || size.height() > Limits::PictureSide) {
        return nullptr;
    }
    return sheet;
}

void SheetBands::open() {
    const QString& path = path_;
    std::int64_t fileSize = 0;
    file_ = std::make_unique<Descriptor>(OpenRegularFile(path, fileSize));
    unsigned char signature[8] = {};
    const long got = ReadAll(file_->get(), signature, sizeof signature, 0);
    if (got < 0) {
        RaiseErrno(errno);
    }
    if (IsPng(signature, static_cast<std::size_t>(got))) {
        ReadWholeFile(path, bytes_);
        png_ = std::make_unique<PngDecoder>(bytes_.data(), bytes_.size(),
                                            MostPixelsFor(static_cast<std::int64_t>(bytes_.size())));
        size_ = png_->Size();
        if (png_->DecodesRowByRow()) {
            return;
        }
    } else {
        bitmap_ = std::make_unique<BitmapBands>(file_->get(), fileSize);
        if (bitmap_->Plain()) {
            size_ = bitmap_->Size();
            return;
        }
        bitmap_.reset();
    }
    png_.reset();
    std::vector<unsigned char>().swap(bytes_);
    file_.reset();
    whole_ = LoadPicture(path);
    size_ = whole_.size();
}

SheetBands::~SheetBands() = default;

QImage SheetBands::Rows(int first, int count) {
    return AboutFile(path_, [&] { return rows(first, count); });
}

// A band of decoded rows in memory a band before used, where its reader let go of it: new
// memory costs the kernel's clearing of every page.
QImage SheetBands::reusedBand(int count) {
    // The band before the last first: its reader is the likelier to be done with it.
    for (const int k : {1 - last_, last_}) {
        if (spare_[k].height() == count && spare_[k].isDetached()) {
            last_ = k;
            return std::exchange(spare_[k], QImage());
        }
    }
    last_ = 1 - last_;
    return newBand(size_.width(), count, QImage::Format_RGBA8888);
}

QImage SheetBands::rows(int first, int count) {
    if (first < next_ || count < 0 || first + count > size_.height()) {
        RaiseError(Err::InvalidCall);
    }
    next_ = first + count;
    if (Whole()) {
        QImage view(whole_.constBits() + whole_.bytesPerLine() * first, whole_.width(), count, whole_.bytesPerLine(),
                    whole_.format());
        view.setColorTable(whole_.colorTable());
        return view;
    }
    if (bitmap_) {
        QImage band = newBand(size_.width(), count, QImage::Format_BGR888);
        bitmap_->Read(first, count, band);
        return band;
    }
    QImage band = reusedBand(std::max(1, count));
    // Rows passed over are decoded all the same, one at a time into the band's first row.
    for (; skipped_ < first; ++skipped_) {
        png_->ReadRows(band, 1);
    }
    png_->ReadRows(band, count);
    skipped_ = next_;
    spare_[last_] = band;
    return count > 0 ? band : QImage();
}
