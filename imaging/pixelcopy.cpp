#include "imaging/pixelcopy.h"

#include <algorithm>
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
