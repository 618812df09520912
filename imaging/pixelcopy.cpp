#include "imaging/pixelcopy.h"

#include "imaging/vectorunits.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
// 0xAARRGGBB as the bytes R, G, B, A; clear pixels as 0, as Qt gives them.
inline std::uint32_t swizzled(QRgb p) {
    if (p >> 24 == 0) {
        return 0;
    }
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    return (p & 0xFF00FF00u) | ((p >> 16) & 0xFFu) | ((p & 0xFFu) << 16);
#else
    return (p >> 16 & 0xFFu) << 24 | (p >> 8 & 0xFFu) << 16 | (p & 0xFFu) << 8 | p >> 24;
#endif
}

#if defined(TILVEX_AVX2_PATHS)
// Eight pixels a step where the processor has AVX2: a byte shuffle swizzles them. The pixels
// done, or fewer where a pixel is neither opaque nor clear (the caller then sees it).
TILVEX_AVX2 int swizzleOpaqueAvx2(const QRgb* in, uchar* out, int width) {
    const __m256i alphas = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    const __m256i order = _mm256_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15, 2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8,
                                           11, 14, 13, 12, 15);
    int i = 0;
    for (; i + 8 <= width; i += 8) {
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        const __m256i alpha = _mm256_and_si256(p, alphas);
        const __m256i opaque = _mm256_cmpeq_epi32(alpha, alphas);
        const __m256i clear = _mm256_cmpeq_epi32(alpha, _mm256_setzero_si256());
        if (_mm256_movemask_epi8(_mm256_or_si256(opaque, clear)) != -1) {
            break;
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i), _mm256_and_si256(_mm256_shuffle_epi8(p, order), opaque));
    }
    return i;
}
#endif

// The row swizzled into out, or false where a pixel is neither opaque nor clear.
bool swizzleOpaqueRow(const QRgb* in, uchar* out, int width) {
    int i = 0;
#if defined(TILVEX_AVX2_PATHS)
    if (HasAvx2()) {
        i = swizzleOpaqueAvx2(in, out, width);
    }
#endif
#if defined(__SSE2__) && Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    const __m128i alphas = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i kept = _mm_set1_epi32(static_cast<int>(0xFF00FF00u));
    const __m128i low = _mm_set1_epi32(0xFF);
    for (; i + 4 <= width; i += 4) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i alpha = _mm_and_si128(p, alphas);
        const __m128i opaque = _mm_cmpeq_epi32(alpha, alphas);
        const __m128i clear = _mm_cmpeq_epi32(alpha, _mm_setzero_si128());
        if (_mm_movemask_epi8(_mm_or_si128(opaque, clear)) != 0xFFFF) {
            return false;
        }
        const __m128i rgba = _mm_or_si128(_mm_and_si128(p, kept),
                                          _mm_or_si128(_mm_and_si128(_mm_srli_epi32(p, 16), low), _mm_slli_epi32(_mm_and_si128(p, low), 16)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), _mm_and_si128(rgba, opaque));
    }
#endif
    for (; i < width; ++i) {
        const QRgb alpha = in[i] >> 24;
        if (alpha != 0 && alpha != 255) {
            return false;
        }
        const std::uint32_t rgba = swizzled(in[i]);
        std::memcpy(out + 4 * i, &rgba, 4);
    }
    return true;
}
}  // namespace

void ToStraightRgbaRow(const QRgb* in, uchar* out, int width) {
    if (!swizzleOpaqueRow(in, out, width)) {
        const QImage row(reinterpret_cast<const uchar*>(in), width, 1, QImage::Format_ARGB32_Premultiplied);
        std::memcpy(out, row.convertToFormat(QImage::Format_RGBA8888).constBits(), static_cast<std::size_t>(width) * 4);
    }
}

void ToStraightRgba(const QImage& from, QImage& to) {
    uchar* const target = to.bits();
    for (int y = 0; y < from.height(); ++y) {
        ToStraightRgbaRow(reinterpret_cast<const QRgb*>(from.constScanLine(y)), target + to.bytesPerLine() * y, from.width());
    }
}
