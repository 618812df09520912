#include "imaging/picture.h"

#include "imaging/bitmapfile.h"
#include "imaging/surfacememory.h"
#include "runtime/numbers.h"
#include "runtime/runtimeerror.h"

#include <QImageReader>
#include <QPainter>

#include <cmath>
#include <limits>

namespace {
int checkedSide(double pixels) {
    if (!std::isfinite(pixels) || pixels < 0 || pixels > Picture::MaxSide) {
        RaiseError(Err::InvalidPropertyValue);
    }
    return RoundToLong(pixels);
}
}  // namespace

Picture::Picture(int width, int height) { SetSize(width, height); }

QColor Picture::Background() { return QColor(240, 240, 240); }

void Picture::SetWidth(double pixels) { SetSize(checkedSide(pixels), height_); }

void Picture::SetHeight(double pixels) { SetSize(width_, checkedSide(pixels)); }

void Picture::SetSize(int width, int height) {
    if (width < 0 || height < 0 || width > MaxSide || height > MaxSide) {
        RaiseError(Err::InvalidPropertyValue);
    }
    if (width == width_ && height == height_ && (width == 0 || height == 0 || !image_.isNull())) {
        return;
    }
    resizeImage(width, height);
    if (onResize_) {
        onResize_();
    }
}

void Picture::Clear() {
    if (!image_.isNull()) {
        image_.fill(Background());
    }
}

void Picture::resizeImage(int width, int height) {
    width_ = width;
    height_ = height;
    if (width == 0 || height == 0) {
        image_ = QImage();
        return;
    }
    QImage resized = NewSurfaceImage(width, height);
    if (resized.isNull()) {
        RaiseError(Err::OutOfMemory);
    }
    resized.fill(Background());
    if (!image_.isNull()) {
        QPainter painter(&resized);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(0, 0, image_);
    }
    image_ = std::move(resized);
}

void Picture::LoadFile(const QString& path) {
    QImage loaded = LoadBitmapFile(path);
    if (loaded.width() > MaxSide || loaded.height() > MaxSide) {
        RaiseError(Err::InvalidPicture);
    }
    if (loaded.format() != QImage::Format_RGB32) {
        loaded = loaded.convertToFormat(QImage::Format_RGB32);
        if (loaded.isNull()) {
            RaiseError(Err::OutOfMemory);
        }
    }
    width_ = loaded.width();
    height_ = loaded.height();
    image_ = std::move(loaded);
    if (onResize_) {
        onResize_();
    }
}

void Picture::SaveBitmap(const QString& path) const { SaveBitmapFile(image_, width_, height_, path); }

void BitBlt(Picture& dst, int x, int y, int w, int h, const Picture& src, int sx, int sy) {
    // Clip the block to both images, moving source and destination together.
    if (x < 0) { sx -= x; w += x; x = 0; }
    if (y < 0) { sy -= y; h += y; y = 0; }
    if (sx < 0) { x -= sx; w += sx; sx = 0; }
    if (sy < 0) { y -= sy; h += sy; sy = 0; }
    w = std::min({w, dst.Width() - x, src.Width() - sx});
    h = std::min({h, dst.Height() - y, src.Height() - sy});
    if (w <= 0 || h <= 0) {
        return;
    }
    QImage& to = dst.Image();
    const QImage& from = src.Image();
    for (int row = 0; row < h; ++row) {
        const auto* in = reinterpret_cast<const QRgb*>(from.constScanLine(sy + row)) + sx;
        auto* out = reinterpret_cast<QRgb*>(to.scanLine(y + row)) + x;
        std::copy(in, in + w, out);
    }
}
