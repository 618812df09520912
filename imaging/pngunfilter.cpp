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
    if (prev == nullptr) {
        thread_local std::vector<uchar> zeros;
        if (zeros.size() < n) {
            zeros.assign(n, 0);
        }
        prev = zeros.data();
    }
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
    if (prev == nullptr) {
        thread_local std::vector<uchar> zeros;
        if (zeros.size() < n) {
            zeros.assign(n, 0);
        }
        prev = zeros.data();
    }
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
