#include "maps/canvasblend.h"

#include "imaging/vectorunits.h"

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <array>
#include <random>

namespace {
using Pixel = std::uint32_t;
// Qt lays a span in pieces longer than this; the spans here are never longer.
constexpr int Longest = 1024;

// The painter's opacity in 256ths, truncated, scales each span's full coverage.
Pixel coverageOf(double opacity) {
    return (255 * static_cast<Pixel>(opacity * 256)) >> 8;
}

// An opaque pixel at full opacity, or a clear one over an opaque or clear pixel, comes back
// whole from every path: the source pixel unless clear, else the canvas's if opaque.
bool whole(Pixel s, Pixel d, bool fullOpacity) {
    return (s >= 0xFF000000u && fullOpacity) || (s == 0 && (d >= 0xFF000000u || d < 0x01000000u));
}

Pixel kept(Pixel s, Pixel d) {
    return s != 0 ? s : d >= 0xFF000000u ? d : 0;
}

#ifdef TILVEX_AVX2_PATHS
// One pixel's blue, green, red and alpha in the 32-bit lanes of a vector: 8 or 16 bits each.
using Lanes = __m128i;

TILVEX_AVX2 inline Lanes widened8(Pixel p) {
    return _mm_mullo_epi32(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(p))), _mm_set1_epi32(257));
}

TILVEX_AVX2 inline Lanes alphaEverywhere(Lanes v) {
    return _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 3, 3, 3));
}

// Qt's 16-bit product x * y / 65535, rounded (x * y stays below 2^32).
TILVEX_AVX2 inline Lanes times(Lanes x, Lanes y) {
    const Lanes p = _mm_mullo_epi32(x, y);
    return _mm_srli_epi32(_mm_add_epi32(_mm_add_epi32(p, _mm_srli_epi32(p, 16)), _mm_set1_epi32(0x8000)), 16);
}

TILVEX_AVX2 inline Lanes div257(Lanes x) {
    x = _mm_add_epi32(x, _mm_set1_epi32(128));
    return _mm_srli_epi32(_mm_sub_epi32(x, _mm_srli_epi32(x, 8)), 8);
}

TILVEX_AVX2 inline Pixel packed(Lanes v) {
    const Lanes words = _mm_packus_epi32(v, v);
    return static_cast<Pixel>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
}

// The reciprocal Qt unpremultiplies by: the processor's estimate, one Newton step, times mul.
TILVEX_AVX2 inline __m128 reciprocal(Pixel alpha, float mul) {
    const __m128 a = _mm_set1_ps(static_cast<float>(alpha));
    __m128 inverse = _mm_rcp_ps(a);
    inverse = _mm_sub_ps(_mm_add_ps(inverse, inverse), _mm_mul_ps(inverse, _mm_mul_ps(inverse, a)));
    return _mm_mul_ps(inverse, _mm_set1_ps(mul));
}

// A canvas pixel as Qt's vector fetch widens it to 16-bit premultiplied values: kept whole
// where every pixel of its vector is opaque, else each channel times alpha in the high half
// of a 16-bit product, nudged up from its top.
TILVEX_AVX2 inline Lanes premultiplied(Pixel p, bool vectorOpaque) {
    const Lanes v = widened8(p);
    if (vectorOpaque) {
        return v;
    }
    Lanes m = _mm_srli_epi32(_mm_mullo_epi32(v, alphaEverywhere(v)), 16);
    m = _mm_add_epi32(m, _mm_srli_epi32(m, 15));
    return _mm_blend_epi16(m, v, 0xC0);
}

TILVEX_AVX2 inline Lanes over(Lanes d, Pixel s, Pixel coverage) {
    Lanes c = widened8(s);
    if (coverage != 255) {
        c = times(c, _mm_set1_epi32(static_cast<int>(coverage * 257)));
    }
    const Lanes rest = _mm_sub_epi32(_mm_set1_epi32(65535), alphaEverywhere(c));
    return _mm_add_epi32(c, times(d, rest));
}

// Back to 8 bits as Qt's vector store does: whole vectors of opaque pixels by division, the
// rest by the reciprocal of alpha straight to 8 bits.
TILVEX_AVX2 inline Pixel narrowedInVector(Lanes w, Pixel a, bool vectorOpaque) {
    if (a == 0) {
        return 0;
    }
    if (vectorOpaque) {
        return packed(div257(w));
    }
    const Lanes c = _mm_cvtps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(w), reciprocal(a, 255.0f)));
    return (packed(c) & 0xFFFFFFu) | static_cast<Pixel>(_mm_extract_epi32(div257(w), 3)) << 24;
}

// The pixels past the last whole vector: unpremultiplied in 16 bits, then divided.
TILVEX_AVX2 inline Pixel narrowedAlone(Lanes w, Pixel a) {
    if (a == 0) {
        return 0;
    }
    if (a != 65535) {
        const Lanes c = _mm_cvtps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(w), reciprocal(a, 65535.0f)));
        w = _mm_blend_epi16(_mm_min_epi32(c, _mm_set1_epi32(65535)), w, 0xC0);
    }
    return packed(div257(w));
}

// Eight source pixels over eight canvas pixels, for the ones that come back whole.
struct Eight {
    __m256i s, d, top = _mm256_set1_epi32(static_cast<int>(0xFF000000u)), none = _mm256_setzero_si256();

    TILVEX_AVX2 Eight(const Pixel* source, const Pixel* canvas)
        : s(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(source))),
          d(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(canvas))) {}

    TILVEX_AVX2 __m256i canvasOpaque() const {
        return _mm256_cmpeq_epi32(_mm256_and_si256(d, top), top);
    }

    TILVEX_AVX2 __m256i whole(bool fullOpacity) const {
        const __m256i canvasClear = _mm256_cmpeq_epi32(_mm256_and_si256(d, top), none);
        __m256i lanes = _mm256_and_si256(_mm256_cmpeq_epi32(s, none), _mm256_or_si256(canvasOpaque(), canvasClear));
        if (fullOpacity) {
            lanes = _mm256_or_si256(lanes, _mm256_cmpeq_epi32(_mm256_and_si256(s, top), top));
        }
        return lanes;
    }

    // Where each comes back whole: the source pixel unless clear, else the canvas's if opaque.
    TILVEX_AVX2 void keep(Pixel* to) const {
        const __m256i canvasKept = _mm256_and_si256(d, canvasOpaque());
        const __m256i sourceClear = _mm256_cmpeq_epi32(s, none);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), _mm256_blendv_epi8(s, canvasKept, sourceClear));
    }
};

// A row laid with its sums made as Qt makes them, where FetchWidth and StoreWidth are the
// pixels in one of Qt's vectors when it widens the canvas and when it stores the sums (they
// depend on the processor's instructions Qt picks).
template <int FetchWidth, int StoreWidth>
TILVEX_AVX2 void laySums(const Pixel* source, Pixel* canvas, int length, Pixel coverage) {
    Lanes sums[Longest];
    std::array<Pixel, Longest> alpha;
    std::array<int, Longest> summed;
    int count = 0;
    for (int first = 0; first < length; first += FetchWidth) {
        const int end = std::min(first + FetchWidth, length);
        // A vector of pixels that all come back whole holds no sum, so neither do the store's
        // vectors inside it, whose alphas are then never asked.
        if (end - first == 8) {
            const Eight eight(source + first, canvas + first);
            if (_mm256_movemask_ps(_mm256_castsi256_ps(eight.whole(coverage == 255))) == 0xFF) {
                eight.keep(canvas + first);
                continue;
            }
        }
        bool opaque = true;
        for (int i = first; i < end; ++i) {
            opaque = opaque && canvas[i] >= 0xFF000000u;
        }
        for (int i = first; i < end; ++i) {
            const Pixel s = source[i], d = canvas[i];
            if (whole(s, d, coverage == 255)) {
                canvas[i] = kept(s, d);
                alpha[i] = canvas[i] != 0 ? 65535 : 0;
            } else {
                Lanes w = premultiplied(d, opaque);
                if (s != 0) {
                    w = over(w, s, coverage);
                }
                sums[i] = w;
                alpha[i] = static_cast<Pixel>(_mm_extract_epi32(w, 3));
                summed[count++] = i;
            }
        }
    }
    const int vectors = length - length % StoreWidth;
    for (int k = 0; k < count; ++k) {
        const int i = summed[k];
        if (i < vectors) {
            const int first = i - i % StoreWidth;
            bool opaque = true;
            for (int j = first; j < first + StoreWidth; ++j) {
                opaque = opaque && alpha[j] == 65535;
            }
            canvas[i] = narrowedInVector(sums[i], alpha[i], opaque);
        } else {
            canvas[i] = narrowedAlone(sums[i], alpha[i]);
        }
    }
}

using Sums = void (*)(const Pixel* source, Pixel* canvas, int length, Pixel coverage);

// Rows of every length up to the longest and of each mix of clear, opaque and translucent
// pixels, laid by the painter and by blend with every pixel summed that needs it: the same
// bytes or not.
bool layLikeThePainter(Sums sums) {
    std::minstd_rand random(20261211);
    // Kinds from first to first + kinds - 1 of clear, opaque and translucent.
    const auto pixel = [&](unsigned first, unsigned kinds, bool premultiplied) -> Pixel {
        const unsigned kind = first + random() % kinds;
        if (kind == 0) {
            return 0;
        }
        const Pixel a = kind == 1 ? 255 : 1 + random() % 254;
        const Pixel most = premultiplied ? a : 255;
        return a << 24 | (random() % (most + 1)) << 16 | (random() % (most + 1)) << 8 | random() % (most + 1);
    };
    // Whole vectors of opaque canvas pixels and of opaque sums, and every kind over every kind.
    const struct {
        unsigned first, kinds, canvasFirst, canvasKinds;
    } mixes[] = {{0, 3, 1, 1}, {1, 2, 1, 1}, {0, 2, 0, 3}, {0, 3, 0, 2}, {0, 3, 0, 3}};
    for (const int length : {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 13, 15, 16, 17, 31, 64, 100, Longest}) {
        for (const auto& mix : mixes) {
            const int rows = length < 32 ? 8 : 2;
            QImage picture(length, rows, QImage::Format_ARGB32_Premultiplied);
            QImage canvas(length, rows, QImage::Format_ARGB32);
            for (int y = 0; y < rows; ++y) {
                auto* from = reinterpret_cast<Pixel*>(picture.scanLine(y));
                auto* to = reinterpret_cast<Pixel*>(canvas.scanLine(y));
                for (int x = 0; x < length; ++x) {
                    from[x] = pixel(mix.first, mix.kinds, true);
                    to[x] = pixel(mix.canvasFirst, mix.canvasKinds, false);
                }
            }
            for (const double opacity : {1.0, 0.5, 0.3}) {
                QImage painted = canvas.copy(), blended = canvas.copy();
                QPainter painter(&painted);
                painter.setOpacity(opacity);
                painter.drawImage(0, 0, picture);
                painter.end();
                for (int y = 0; y < rows; ++y) {
                    sums(reinterpret_cast<const Pixel*>(picture.constScanLine(y)),
                         reinterpret_cast<Pixel*>(blended.scanLine(y)), length, coverageOf(opacity));
                }
                if (blended != painted) {
                    return false;
                }
            }
        }
    }
    return true;
}

// The sums that lay the probe's rows as the painter does, found once; null where none do.
Sums sumsLikeQt() {
    static const Sums chosen = []() -> Sums {
        if (!HasAvx2()) {
            return nullptr;
        }
        for (const Sums sums : {&laySums<8, 4>, &laySums<4, 4>}) {
            if (layLikeThePainter(sums)) {
                return sums;
            }
        }
        return nullptr;
    }();
    return chosen;
}

// How many of the first count pixels (a multiple of eight) need sums.
TILVEX_AVX2 int toSumByEights(const Pixel* source, const Pixel* canvas, int count, bool fullOpacity) {
    int toSum = 0;
    for (int i = 0; i < count; i += 8) {
        toSum += 8 - _mm_popcnt_u32(static_cast<unsigned>(
                         _mm256_movemask_ps(_mm256_castsi256_ps(Eight(source + i, canvas + i).whole(fullOpacity)))));
    }
    return toSum;
}

TILVEX_AVX2 void keepByEights(const Pixel* source, Pixel* canvas, int count) {
    for (int i = 0; i < count; i += 8) {
        Eight(source + i, canvas + i).keep(canvas + i);
    }
}
#endif
}  // namespace

// Rows of whole pixels are laid without the probe, which only rows with sums need.
bool BlendCanvasRow(const std::uint32_t* source, std::uint32_t* canvas, int length, double opacity, int most) {
    const Pixel coverage = coverageOf(opacity);
    const bool fullOpacity = coverage == 255;
    int byEights = 0;  // the first pixels, counted and laid eight at a time
    int toSum = 0;
#ifdef TILVEX_AVX2_PATHS
    if (HasAvx2()) {
        byEights = length - length % 8;
        toSum = toSumByEights(source, canvas, byEights, fullOpacity);
    }
#endif
    for (int i = byEights; i < length; ++i) {
        toSum += whole(source[i], canvas[i], fullOpacity) ? 0 : 1;
    }
    if (toSum > most) {
        return false;
    }
    if (toSum == 0) {
#ifdef TILVEX_AVX2_PATHS
        if (byEights > 0) {
            keepByEights(source, canvas, byEights);
        }
#endif
        for (int i = byEights; i < length; ++i) {
            canvas[i] = kept(source[i], canvas[i]);
        }
        return true;
    }
#ifdef TILVEX_AVX2_PATHS
    if (const Sums sums = sumsLikeQt(); sums != nullptr) {
        sums(source, canvas, length, coverage);
        return true;
    }
#endif
    return false;
}
