#include "maps/tileblend.h"

#include "imaging/vectorunits.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {
// c * a / 255 of each byte as Qt rounds it: (t + (t >> 8) + 128) >> 8 with t = c * a.
inline std::uint32_t byteMul(std::uint32_t x, std::uint32_t a) {
    std::uint64_t t = ((std::uint64_t{x} | std::uint64_t{x} << 24) & 0x00ff00ff00ff00ffull) * a;
    t = (t + ((t >> 8) & 0x00ff00ff00ff00ffull) + 0x0080008000800080ull) >> 8;
    t &= 0x00ff00ff00ff00ffull;
    return static_cast<std::uint32_t>(t) | static_cast<std::uint32_t>(t >> 24);
}

// One pixel: the source scaled by the opacity (255: unchanged), then over the destination.
inline std::uint32_t over(std::uint32_t s, std::uint32_t d, std::uint32_t opacity) {
    s = byteMul(s, opacity);
    return s + byteMul(d, 255u - (s >> 24));
}

#if defined(__SSE2__)
inline __m128i mul16(__m128i c, __m128i a) {
    const __m128i t = _mm_mullo_epi16(c, a);
    return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), _mm_set1_epi16(0x80)), 8);
}

// Two pixels widened to 16 bits a channel.
inline __m128i over16(__m128i s, __m128i d, __m128i opacity) {
    s = mul16(s, opacity);
    const __m128i alpha = _mm_shufflehi_epi16(_mm_shufflelo_epi16(s, 0xFF), 0xFF);
    return _mm_add_epi16(s, mul16(d, _mm_sub_epi16(_mm_set1_epi16(0xFF), alpha)));
}
#endif

#if defined(TILVEX_AVX2_PATHS)
TILVEX_AVX2 inline __m256i mul16x16(__m256i c, __m256i a) {
    const __m256i t = _mm256_mullo_epi16(c, a);
    return _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(t, _mm256_srli_epi16(t, 8)), _mm256_set1_epi16(0x80)), 8);
}

// Eight pixels at a time, the same sums as over16, where the processor has AVX2: for layers
// below full opacity, whose every pixel is blended.
TILVEX_AVX2 int blendRowAvx2(std::uint32_t* to, const std::uint32_t* from, int count, std::uint32_t opacity) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i scale = _mm256_set1_epi16(static_cast<short>(opacity));
    const __m256i full = _mm256_set1_epi16(0xFF);
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + x));
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(to + x));
        __m256i halves[2];
        for (int h = 0; h < 2; ++h) {
            const __m256i s16 = mul16x16(h == 0 ? _mm256_unpacklo_epi8(s, zero) : _mm256_unpackhi_epi8(s, zero), scale);
            const __m256i d16 = h == 0 ? _mm256_unpacklo_epi8(d, zero) : _mm256_unpackhi_epi8(d, zero);
            const __m256i alpha = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(s16, 0xFF), 0xFF);
            halves[h] = _mm256_add_epi16(s16, mul16x16(d16, _mm256_sub_epi16(full, alpha)));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + x), _mm256_packus_epi16(halves[0], halves[1]));
    }
    return x;
}
#endif

void blendRow(std::uint32_t* to, const std::uint32_t* from, int count, std::uint32_t opacity) {
    int x = 0;
#if defined(TILVEX_AVX2_PATHS)
    if (opacity != 255 && HasAvx2()) {
        x = blendRowAvx2(to, from, count, opacity);
    }
#endif
#if defined(__SSE2__)
    to += x;
    from += x;
    count -= x;
    x = 0;
    const __m128i zero = _mm_setzero_si128();
    const __m128i alphas = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i scale = _mm_set1_epi16(static_cast<short>(opacity));
    for (; x + 4 <= count; x += 4) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + x));
        if (opacity == 255) {
            // Opaque pixels replace, transparent ones leave the canvas: the sums give the same.
            const int opaque = _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(s, alphas), alphas));
            if (opaque == 0xFFFF) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(to + x), s);
                continue;
            }
            if (_mm_movemask_epi8(_mm_cmpeq_epi32(s, zero)) == 0xFFFF) {
                continue;
            }
        }
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(to + x));
        const __m128i low = over16(_mm_unpacklo_epi8(s, zero), _mm_unpacklo_epi8(d, zero), scale);
        const __m128i high = over16(_mm_unpackhi_epi8(s, zero), _mm_unpackhi_epi8(d, zero), scale);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + x), _mm_packus_epi16(low, high));
    }
#endif
    for (; x < count; ++x) {
        if (from[x] != 0) {
            to[x] = over(from[x], to[x], opacity);
        }
    }
}
}  // namespace

PremultipliedCanvas::PremultipliedCanvas(QImage& canvas) {
    if (canvas.format() == QImage::Format_ARGB32_Premultiplied) {
        bits_ = canvas.bits();
        line_ = canvas.bytesPerLine();
        width_ = canvas.width();
        height_ = canvas.height();
    }
}

BlendSource BlendSourceOf(const QImage& picture) {
    if (picture.format() != QImage::Format_ARGB32_Premultiplied) {
        return {};
    }
    return BlendSource{picture.constBits(), picture.bytesPerLine(), picture.width(), picture.height()};
}

void PremultipliedCanvas::Blend(const QImage& picture, QPoint at, double opacity, bool opaque) {
    Blend(BlendSourceOf(picture), at, opacity, opaque);
}

void PremultipliedCanvas::Blend(const BlendSource& picture, QPoint at, double opacity, bool opaque) {
    // As QPainter keeps its opacity: clamped, in 256ths cut down; its blend takes 255ths of that.
    const int painterOpacity = opacity > 0 ? static_cast<int>(std::min(opacity, 1.0) * 256) : 0;  // NaN draws nothing, as in QPainter
    if (painterOpacity == 0 || bits_ == nullptr || picture.bits == nullptr) {
        return;
    }
    // A factor of 255 leaves a pixel as it is in Qt's rounding, so full opacity is that.
    const std::uint32_t scale = painterOpacity == 256 ? 255u : static_cast<std::uint32_t>(painterOpacity * 255) >> 8;
    const int left = std::max(0, at.x()), right = std::min(width_, at.x() + picture.width);
    const int top = std::max(0, at.y()), bottom = std::min(height_, at.y() + picture.height);
    if (left >= right || top >= bottom) {
        return;
    }
    const qsizetype fromLine = picture.line;
    uchar* to = bits_ + top * line_ + left * 4;
    const uchar* from = picture.bits + (top - at.y()) * fromLine + (left - at.x()) * 4;
    const std::size_t rowBytes = static_cast<std::size_t>(right - left) * 4;
    for (int y = top; y < bottom; ++y) {
        if (opaque && scale == 255) {
            std::memcpy(to, from, rowBytes);
        } else {
            blendRow(reinterpret_cast<std::uint32_t*>(to), reinterpret_cast<const std::uint32_t*>(from), right - left, scale);
        }
        to += line_;
        from += fromLine;
    }
}

bool Opaque(const QImage& picture) {
    if (picture.format() != QImage::Format_ARGB32_Premultiplied) {
        return false;
    }
    for (int y = 0; y < picture.height(); ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(picture.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            if (row[x] < 0xFF000000u) {
                return false;
            }
        }
    }
    return true;
}

void BlendPremultiplied(QImage& canvas, const QImage& picture, QPoint at, double opacity) {
    PremultipliedCanvas(canvas).Blend(picture, at, opacity);
}
