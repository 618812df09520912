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

// Four pixels a register, one of each of four rows, turned into four of each row: the 4 by 4
// transpose of dwords, which is its own inverse.
TILVEX_AVX2 inline void transpose4(__m128i v[4]) {
    const __m128i lowPairs01 = _mm_unpacklo_epi32(v[0], v[1]);
    const __m128i lowPairs23 = _mm_unpacklo_epi32(v[2], v[3]);
    const __m128i highPairs01 = _mm_unpackhi_epi32(v[0], v[1]);
    const __m128i highPairs23 = _mm_unpackhi_epi32(v[2], v[3]);
    v[0] = _mm_unpacklo_epi64(lowPairs01, lowPairs23);
    v[1] = _mm_unpackhi_epi64(lowPairs01, lowPairs23);
    v[2] = _mm_unpacklo_epi64(highPairs01, highPairs23);
    v[3] = _mm_unpackhi_epi64(highPairs01, highPairs23);
}

// A wave of rows filtered with Paeth: quarter q of register r holds row k = 4r + q's pixel
// i - k, channels widened to 16 bits, so the pixel above each was decoded a step before, a
// quarter lower. Each step waits on the one before however many rows ride in it, so the more
// rows, the more pixels a step. Within the picture, four steps at a time load and store
// four pixels of each row at once.
template <int Registers>
class PaethWave {
public:
    static constexpr int Rows = 4 * Registers;

    TILVEX_AVX2 PaethWave(const uchar* const* in, uchar* const* out, const uchar* prev, std::size_t width)
        : in_(in), out_(out), prev_(prev), width_(width) {
        for (int r = 0; r < Registers; ++r) {
            a_[r] = c_[r] = d_[r] = _mm256_setzero_si256();
        }
    }

    TILVEX_AVX2 void Run() {
        // After Rows - 1 steps every row has begun; until width, none has ended.
        const std::size_t full = Rows - 1;
        std::size_t i = 0;
        for (; i < full && i < width_; ++i) {
            edgeStep(i);
        }
        for (; i >= full && i + 4 <= width_; i += 4) {
            fourSteps(i);
        }
        for (; i < width_ + full; ++i) {
            edgeStep(i);
        }
    }

private:
    // x: the filtered pixels of the step; above: the picture's row above, in quarter 0.
    TILVEX_AVX2 inline void step(const __m256i x[Registers], __m256i above) {
        __m256i b[Registers];
        for (int r = 0; r < Registers; ++r) {
            const __m256i incoming = r == 0 ? above : _mm256_permute4x64_epi64(d_[r - 1], 0xFF);
            b[r] = _mm256_blend_epi32(_mm256_permute4x64_epi64(d_[r], 0x90), incoming, 0x03);
        }
        for (int r = 0; r < Registers; ++r) {
            d_[r] = _mm256_and_si256(_mm256_add_epi16(x[r], Paeth16x16(a_[r], b[r], c_[r])), _mm256_set1_epi16(0xFF));
            a_[r] = d_[r];
            c_[r] = b[r];
        }
    }

    // Register r's four pixels as bytes, quarter q in dword q.
    TILVEX_AVX2 inline __m128i decoded(int r) const {
        const __m256i bytes = _mm256_packus_epi16(d_[r], d_[r]);
        return _mm_unpacklo_epi64(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1));
    }

    TILVEX_AVX2 inline __m256i above(std::size_t i) const {
        return _mm256_cvtepu8_epi16(_mm_cvtsi32_si128(static_cast<int>(pixelAt(prev_, i))));
    }

    // Step i at either end: a row not yet begun sees only zeros, so its quarter stays zero and
    // its left and upper-left pixels none when it begins; rows ended are left unstored.
    TILVEX_AVX2 void edgeStep(std::size_t i) {
        const auto inside = [&](int k) { return i >= static_cast<std::size_t>(k) && i - static_cast<std::size_t>(k) < width_; };
        __m256i x[Registers];
        for (int r = 0; r < Registers; ++r) {
            int pixels[4];
            for (int q = 0; q < 4; ++q) {
                const int k = 4 * r + q;
                pixels[q] = inside(k) ? static_cast<int>(pixelAt(in_[k], i - static_cast<std::size_t>(k))) : 0;
            }
            x[r] = _mm256_cvtepu8_epi16(_mm_setr_epi32(pixels[0], pixels[1], pixels[2], pixels[3]));
        }
        step(x, inside(0) ? above(i) : _mm256_setzero_si256());
        for (int r = 0; r < Registers; ++r) {
            alignas(16) std::uint32_t pixels[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(pixels), decoded(r));
            for (int q = 0; q < 4; ++q) {
                const int k = 4 * r + q;
                if (inside(k)) {
                    std::memcpy(out_[k] + 4 * (i - static_cast<std::size_t>(k)), &pixels[q], 4);
                }
            }
        }
    }

    // Steps i to i + 3, every row inside the picture.
    TILVEX_AVX2 void fourSteps(std::size_t i) {
        __m256i x[4][Registers];
        for (int r = 0; r < Registers; ++r) {
            __m128i rows[4];
            for (int q = 0; q < 4; ++q) {
                const int k = 4 * r + q;
                rows[q] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in_[k] + 4 * (i - static_cast<std::size_t>(k))));
            }
            transpose4(rows);
            for (int s = 0; s < 4; ++s) {
                x[s][r] = _mm256_cvtepu8_epi16(rows[s]);
            }
        }
        __m128i done[Registers][4];
        for (int s = 0; s < 4; ++s) {
            step(x[s], above(i + static_cast<std::size_t>(s)));
            for (int r = 0; r < Registers; ++r) {
                done[r][s] = decoded(r);
            }
        }
        for (int r = 0; r < Registers; ++r) {
            transpose4(done[r]);
            for (int q = 0; q < 4; ++q) {
                const int k = 4 * r + q;
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out_[k] + 4 * (i - static_cast<std::size_t>(k))), done[r][q]);
            }
        }
    }

    const uchar* const* in_;
    uchar* const* out_;
    const uchar* prev_;
    std::size_t width_;
    __m256i a_[Registers], c_[Registers], d_[Registers];
};
}  // namespace

bool UnfilterPaethRows(const unsigned char* const in[], unsigned char* const out[], int rows, const unsigned char* prev, std::size_t n) {
    if (!HasAvx2() || n % 4 != 0 || n < 16 || rows < 1 || rows > 8) {
        return false;
    }
    prev = aboveOrZeros(prev, n);
    // A wave takes as long with rows of zeros decoded into scratch as with real rows: four
    // rows of it are quicker than a pair and one alone, eight than four and three.
    const int wave = rows > 4 ? 8 : 4;
    thread_local std::vector<uchar> scratch;
    scratch.resize(n);
    const uchar* ins[8];
    uchar* outs[8];
    for (int k = 0; k < wave; ++k) {
        ins[k] = k < rows ? in[k] : aboveOrZeros(nullptr, n);
        outs[k] = k < rows ? out[k] : scratch.data();
    }
    if (wave == 8) {
        PaethWave<2>(ins, outs, prev, n / 4).Run();
    } else {
        PaethWave<1>(ins, outs, prev, n / 4).Run();
    }
    return true;
}

#else
bool UnfilterPaethRows(const unsigned char* const*, unsigned char* const*, int, const unsigned char*, std::size_t) { return false; }
#endif
