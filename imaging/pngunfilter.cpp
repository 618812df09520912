#include "imaging/pngunfilter.h"

#include "imaging/pngsimd.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
using uchar = unsigned char;

int paeth(int a, int b, int c) {
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc) {
        return a;
    }
    return pb <= pc ? b : c;
}

// The row above, or zeros over the first row.
const uchar* aboveOrZeros(const uchar* prev, std::size_t n) {
    if (prev != nullptr) {
        return prev;
    }
    thread_local std::vector<uchar> zeros;
    if (zeros.size() < n) {
        zeros.assign(n, 0);
    }
    return zeros.data();
}

// Bytes from to n, one at a time; prev is never null here.
void unfilterBytes(int f, const uchar* in, uchar* out, const uchar* prev, std::size_t from, std::size_t n, std::size_t bpp) {
    for (std::size_t i = from; i < n; ++i) {
        const int a = i >= bpp ? out[i - bpp] : 0;
        const int c = i >= bpp ? prev[i - bpp] : 0;
        const int b = prev[i];
        int p = 0;
        switch (f) {
        case 1:
            p = a;
            break;
        case 2:
            p = b;
            break;
        case 3:
            p = (a + b) >> 1;
            break;
        case 4:
            p = paeth(a, b, c);
            break;
        default:
            break;
        }
        out[i] = static_cast<uchar>(in[i] + p);
    }
}

#if defined(__SSE2__)
// One pixel of bpp (3 or 4) bytes in the low lanes; memcpy keeps the last pixel of a row from
// reading past it; a size known when compiling makes it a plain move.
template <std::size_t Bpp>
inline __m128i loadPixel(const uchar* p) {
    std::uint32_t v = 0;
    std::memcpy(&v, p, Bpp);
    return _mm_cvtsi32_si128(static_cast<int>(v));
}
template <std::size_t Bpp>
inline void storePixel(uchar* p, __m128i v) {
    const auto bits = static_cast<std::uint32_t>(_mm_cvtsi128_si32(v));
    std::memcpy(p, &bits, Bpp);
}

// Sub, Average and Paeth depend on the pixel to the left just decoded: a pixel at a time, the
// pixel carried in a register. Up has no such chain and takes 16 bytes at a time.
template <std::size_t Bpp>
void unfilterPixels(int f, const uchar* in, uchar* out, const uchar* prev, std::size_t n) {
    constexpr std::size_t bpp = Bpp;
    const __m128i zero = _mm_setzero_si128();
    std::size_t i = 0;
    if (f == 2) {
        for (; i + 16 <= n; i += 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_add_epi8(x, b));
        }
        unfilterBytes(f, in, out, prev, i, n, bpp);
        return;
    }
    if (f == 1 && Bpp == 4) {
        // A running sum of pixels: within 16 bytes by two shifted adds, then the last pixel
        // of the block before added to all four.
        __m128i carry = zero;
        for (; i + 16 <= n; i += 16) {
            __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
            x = _mm_add_epi8(x, _mm_slli_si128(x, 4));
            x = _mm_add_epi8(x, _mm_slli_si128(x, 8));
            x = _mm_add_epi8(x, carry);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), x);
            carry = _mm_shuffle_epi32(x, 0xff);
        }
        unfilterBytes(f, in, out, prev, i, n, bpp);
        return;
    }
    __m128i a = zero;
    __m128i c = zero;
    for (; i + bpp <= n; i += bpp) {
        const __m128i x = loadPixel<Bpp>(in + i);
        __m128i d;
        if (f == 1) {
            d = _mm_add_epi8(x, a);
        } else if (f == 3) {
            d = _mm_add_epi8(x, AverageFloor(a, loadPixel<Bpp>(prev + i)));
        } else {
            const __m128i b = _mm_unpacklo_epi8(loadPixel<Bpp>(prev + i), zero);
            d = _mm_add_epi8(x, _mm_packus_epi16(Paeth16(a, b, c), zero));
            c = b;
        }
        storePixel<Bpp>(out + i, d);
        a = f == 4 ? _mm_unpacklo_epi8(d, zero) : d;
    }
    unfilterBytes(f, in, out, prev, i, n, bpp);
}
#endif
}  // namespace

bool UnfilterRow(int f, const uchar* in, uchar* out, const uchar* prev, std::size_t n, int bpp) {
    if (f < 0 || f > 4) {
        return false;
    }
    if (f == 0) {
        if (in != out) {
            std::memcpy(out, in, n);
        }
        return true;
    }
    prev = aboveOrZeros(prev, n);
    const auto b = static_cast<std::size_t>(bpp);
#if defined(__SSE2__)
    if (b == 3) {
        unfilterPixels<3>(f, in, out, prev, n);
        return true;
    }
    if (b == 4) {
        unfilterPixels<4>(f, in, out, prev, n);
        return true;
    }
#endif
    unfilterBytes(f, in, out, prev, 0, n, b);
    return true;
}

void UnfilterPaethPair(const uchar* in0, const uchar* in1, uchar* out0, uchar* out1, const uchar* prev, std::size_t n) {
#if defined(__SSE2__)
    prev = aboveOrZeros(prev, n);
    const std::size_t width = n / 4;
    if (width == 0 || n % 4 != 0) {
        UnfilterRow(4, in0, out0, prev, n, 4);
        UnfilterRow(4, in1, out1, out0, n, 4);
        return;
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_set1_epi16(0xFF);
    // Lanes 0-3: the first row's pixel i; lanes 4-7: the second row's pixel i - 1. a, b and c
    // of both as Paeth names them, widened to 16 bits; d the pixels just decoded.
    __m128i a = zero;
    __m128i c = zero;
    __m128i d = zero;
    for (std::size_t i = 0; i <= width; ++i) {
        const bool first = i < width;  // the first row has pixel i
        const __m128i x0 = first ? loadPixel<4>(in0 + 4 * i) : zero;
        const __m128i x1 = i > 0 ? loadPixel<4>(in1 + 4 * (i - 1)) : zero;
        const __m128i x = _mm_unpacklo_epi8(_mm_unpacklo_epi32(x0, x1), zero);
        const __m128i above = first ? _mm_unpacklo_epi8(loadPixel<4>(prev + 4 * i), zero) : zero;
        // Above the second row's pixel is the first row's pixel decoded a step before.
        const __m128i b = _mm_unpacklo_epi64(above, d);
        d = _mm_and_si128(_mm_add_epi16(x, Paeth16(a, b, c)), low);
        const __m128i bytes = _mm_packus_epi16(d, zero);
        if (first) {
            storePixel<4>(out0 + 4 * i, bytes);
        }
        if (i > 0) {
            storePixel<4>(out1 + 4 * (i - 1), _mm_srli_si128(bytes, 4));
        }
        a = d;
        c = b;
    }
#else
    UnfilterRow(4, in0, out0, prev, n, 4);
    UnfilterRow(4, in1, out1, out0, n, 4);
#endif
}

#if defined(TILVEX_AVX2_PATHS)
namespace {
TILVEX_AVX2 inline std::uint32_t pixelAt(const uchar* row, std::size_t i) {
    std::uint32_t p;
    std::memcpy(&p, row + 4 * i, 4);
    return p;
}

// Quarter k of the registers holds row k's pixel i - k, channels widened to 16 bits. A row
// not yet begun sees only zeros, so its quarter stays zero, its left and upper-left pixels
// none when it begins; the quarters of rows ended are left unstored.
TILVEX_AVX2 void paethQuad(const uchar* const in[4], uchar* const out[4], const uchar* prev, std::size_t width) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i low = _mm256_set1_epi16(0xFF);
    __m256i a = zero, c = zero, d = zero;
    for (std::size_t i = 0; i < width + 3; ++i) {
        std::uint32_t x[4] = {0, 0, 0, 0};
        bool inside[4];
        for (int k = 0; k < 4; ++k) {
            inside[k] = i >= static_cast<std::size_t>(k) && i - static_cast<std::size_t>(k) < width;
            if (inside[k]) {
                x[k] = pixelAt(in[k], i - static_cast<std::size_t>(k));
            }
        }
        const __m256i x16 = _mm256_cvtepu8_epi16(_mm_setr_epi32(static_cast<int>(x[0]), static_cast<int>(x[1]), static_cast<int>(x[2]),
                                                                static_cast<int>(x[3])));
        const __m256i above = _mm256_cvtepu8_epi16(_mm_cvtsi32_si128(inside[0] ? static_cast<int>(pixelAt(prev, i)) : 0));
        // Above row k's pixel is row k - 1's, decoded a step before in the quarter below.
        const __m256i b = _mm256_blend_epi32(_mm256_permute4x64_epi64(d, 0x90), above, 0x03);
        d = _mm256_and_si256(_mm256_add_epi16(x16, Paeth16x16(a, b, c)), low);
        const __m256i bytes = _mm256_packus_epi16(d, zero);
        const std::uint32_t decoded[4] = {static_cast<std::uint32_t>(_mm256_extract_epi32(bytes, 0)),
                                          static_cast<std::uint32_t>(_mm256_extract_epi32(bytes, 1)),
                                          static_cast<std::uint32_t>(_mm256_extract_epi32(bytes, 4)),
                                          static_cast<std::uint32_t>(_mm256_extract_epi32(bytes, 5))};
        for (int k = 0; k < 4; ++k) {
            if (inside[k]) {
                std::memcpy(out[k] + 4 * (i - static_cast<std::size_t>(k)), &decoded[k], 4);
            }
        }
        a = d;
        c = b;
    }
}
}  // namespace

bool UnfilterPaethQuad(const unsigned char* const in[4], unsigned char* const out[4], const unsigned char* prev, std::size_t n) {
    if (!HasAvx2() || n % 4 != 0 || n < 16) {
        return false;
    }
    prev = aboveOrZeros(prev, n);
    paethQuad(in, out, prev, n / 4);
    return true;
}
#else
bool UnfilterPaethQuad(const unsigned char* const*, unsigned char* const*, const unsigned char*, std::size_t) { return false; }
#endif
