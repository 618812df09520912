#include "imaging/pixelcopy.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

void CopyPixels(const QImage& from, int sx, int sy, QImage& to, int x, int y, int w, int h) {
    if (w <= 0 || h <= 0) {
        return;
    }
    const bool wide = to.format() == QImage::Format_RGB32;
    const bool fromWide = from.format() == QImage::Format_RGB32;
    // One detach for the block: scanLine() checks for a shared image on every row.
    uchar* const target = to.bits();
    const uchar* const source = from.constBits();
    for (int row = 0; row < h; ++row) {
        const uchar* in = source + from.bytesPerLine() * (sy + row) + static_cast<std::size_t>(sx) * (fromWide ? 4 : 3);
        uchar* out = target + to.bytesPerLine() * (y + row) + static_cast<std::size_t>(x) * (wide ? 4 : 3);
        if (fromWide == wide) {
            std::memcpy(out, in, static_cast<std::size_t>(w) * (wide ? 4 : 3));
        } else if (fromWide) {
            const auto* px = reinterpret_cast<const QRgb*>(in);
            for (int i = 0; i < w; ++i, out += 3) {
                out[0] = static_cast<uchar>(px[i]);
                out[1] = static_cast<uchar>(px[i] >> 8);
                out[2] = static_cast<uchar>(px[i] >> 16);
            }
        } else {
            auto* px = reinterpret_cast<QRgb*>(out);
            for (int i = 0; i < w; ++i, in += 3) {
                px[i] = 0xFF000000u | (QRgb{in[2]} << 16) | (QRgb{in[1]} << 8) | in[0];
            }
        }
    }
}

namespace {
// The row swizzled into out, or false (out untouched) where a pixel is neither opaque nor clear.
bool swizzleOpaqueRow(const QRgb* in, uchar* out, int width) {
    bool other = false;
    for (int i = 0; i < width; ++i) {
        const QRgb alpha = in[i] >> 24;
        other |= alpha != 0 && alpha != 255;
    }
    if (other) {
        return false;
    }
    for (int i = 0; i < width; ++i) {
        const QRgb p = in[i] >> 24 == 0 ? 0 : in[i];
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        // 0xAARRGGBB to the bytes R, G, B, A.
        const std::uint32_t rgba = (p & 0xFF00FF00u) | ((p >> 16) & 0xFFu) | ((p & 0xFFu) << 16);
        std::memcpy(out + 4 * i, &rgba, 4);
#else
        out[4 * i] = static_cast<uchar>(p >> 16);
        out[4 * i + 1] = static_cast<uchar>(p >> 8);
        out[4 * i + 2] = static_cast<uchar>(p);
        out[4 * i + 3] = static_cast<uchar>(p >> 24);
#endif
    }
    return true;
}
}  // namespace

void ToStraightRgba(const QImage& from, QImage& to) {
    const int width = from.width();
    uchar* const target = to.bits();
    for (int y = 0; y < from.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(from.constScanLine(y));
        uchar* out = target + to.bytesPerLine() * y;
        if (!swizzleOpaqueRow(in, out, width)) {
            const QImage row(reinterpret_cast<const uchar*>(in), width, 1, from.bytesPerLine(), from.format());
            std::memcpy(out, row.convertToFormat(QImage::Format_RGBA8888).constBits(), static_cast<std::size_t>(width) * 4);
        }
    }
}
