#include "imaging/picture.h"

#include "imaging/bitmapfile.h"
#include "imaging/pixelcopy.h"
#include "imaging/surfacememory.h"
#include "runtime/limits.h"
#include "runtime/numbers.h"
#include "runtime/runtimeerror.h"

#include <algorithm>
#include <cmath>
#include <limits>

Picture::Picture(int width, int height) { SetSize(width, height); }

int Picture::Side(double pixels) {
    if (!std::isfinite(pixels) || pixels < 0 || pixels > Limits::PictureSide) {
        RaiseError(Err::InvalidPropertyValue);
    }
    return RoundToLong(pixels);
}

QColor Picture::Background() { return QColor(240, 240, 240); }

void Picture::SetWidth(double pixels) { SetSize(Side(pixels), height_); }

void Picture::SetHeight(double pixels) { SetSize(width_, Side(pixels)); }

void Picture::SetSize(int width, int height) {
    if (width < 0 || height < 0 || width > Limits::PictureSide || height > Limits::PictureSide) {
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
    // Three bytes a pixel: all a 24-bit bitmap keeps, and a quarter less memory for a sheet.
    QImage resized = NewSurfaceImage(width, height, QImage::Format_BGR888);
    if (resized.isNull()) {
        RaiseError(Err::OutOfMemory);
    }
    resized.fill(Background());
    if (!image_.isNull()) {
        CopyPixels(image_, 0, 0, resized, 0, 0, std::min(width, image_.width()), std::min(height, image_.height()));
    }
    image_ = std::move(resized);
}

void Picture::LoadFile(const QString& path) {
    QImage loaded = LoadBitmapFile(path);
    if (loaded.width() > Limits::PictureSide || loaded.height() > Limits::PictureSide) {
        RaiseError(Err::InvalidPicture);
    }
    if (loaded.format() != QImage::Format_RGB32 && loaded.format() != QImage::Format_BGR888) {
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
    CopyPixels(src.Image(), sx, sy, dst.Image(), x, y, w, h);
}
