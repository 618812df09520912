#include "imaging/pngfilter.h"

#include "imaging/pixelcopy.h"
#include "imaging/pngsimd.h"
#include "runtime/parallel.h"
#include "runtime/runtimeerror.h"

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {
// Rows are filtered on every core in runs of about this many bytes.
constexpr std::size_t PartBytes = std::size_t{1} << 20;

// The Paeth predictor, one byte at a time.
inline int paeth(int a, int b, int c) {
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    const int bc = pb <= pc ? b : c;
    return pa <= pb && pa <= pc ? a : bc;
}

template <int F>
inline int predict(int a, int b, int c) {
    if constexpr (F == 1) {
        return a;
    } else if constexpr (F == 2) {
        return b;
    } else if constexpr (F == 3) {
        return (a + b) >> 1;
    } else {
        return paeth(a, b, c);
    }
}

// The compressed size of data at the deflater's quickest level: a cheap gauge of filtering.
std::size_t quickSize(const std::vector<uchar>& data, Deflater deflater) {
    thread_local std::vector<uchar> out;
    if (deflater == Deflater::Igzip) {
        thread_local std::vector<uchar> level(ISAL_DEF_LVL1_DEFAULT);
        out.resize(data.size() + data.size() / 8192 + 1024);
        isal_zstream stream;
        isal_deflate_stateless_init(&stream);
        stream.level = 1;
        stream.level_buf = level.data();
        stream.level_buf_size = static_cast<std::uint32_t>(level.size());
        stream.end_of_stream = 1;
        stream.next_in = const_cast<uchar*>(data.data());
        stream.avail_in = static_cast<std::uint32_t>(data.size());
        stream.next_out = out.data();
        stream.avail_out = static_cast<std::uint32_t>(out.size());
        return isal_deflate_stateless(&stream) == COMP_OK ? stream.total_out : data.size();
    }
    struct Quick {
        libdeflate_compressor* c = libdeflate_alloc_compressor(1);
        ~Quick() { libdeflate_free_compressor(c); }
    };
    thread_local Quick quick;
    if (quick.c == nullptr) {
        RaiseError(Err::OutOfMemory);
    }
    out.resize(libdeflate_zlib_compress_bound(quick.c, data.size()));
    return libdeflate_zlib_compress(quick.c, data.data(), data.size(), out.data(), out.size());
}
}  // namespace

#if defined(__SSE2__)
namespace {
// |v| of each byte taken as signed, as an unsigned byte: the smaller of v and -v.
inline __m128i absSigned(__m128i v) { return _mm_min_epu8(v, _mm_sub_epi8(_mm_setzero_si128(), v)); }

// The 16 bytes at i of a row of 4-byte pixels, and those of the pixel to the left of each
// (zeros left of the first).
struct Lanes {
    __m128i x, a, b, c;
};
inline Lanes lanesAt(const uchar* row, const uchar* prev, std::size_t i) {
    Lanes l;
    l.x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
    l.b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i));
    if (i == 0) {
        l.a = _mm_slli_si128(l.x, 4);
        l.c = _mm_slli_si128(l.b, 4);
    } else {
        l.a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i - 4));
        l.c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i - 4));
    }
    return l;
}

inline std::uint64_t lanesSum(__m128i sad) {
    return static_cast<std::uint64_t>(_mm_cvtsi128_si32(sad)) + static_cast<std::uint64_t>(_mm_cvtsi128_si32(_mm_srli_si128(sad, 8)));
}

// The sums of the row's bytes unfiltered and under each of the four filters, as signed values,
// the filtered bytes kept in filtered (four rows of n); 4-byte pixels, 16 bytes at a time, the
// end of the row left to the caller. Keeping them costs less than computing Paeth again.
std::size_t sumsOfFour(const uchar* row, const uchar* prev, std::size_t n, unsigned sums[5], uchar* filtered) {
    const __m128i zero = _mm_setzero_si128();
    __m128i acc[5] = {zero, zero, zero, zero, zero};
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const Lanes l = lanesAt(row, prev, i);
        const __m128i f[4] = {_mm_sub_epi8(l.x, l.a), _mm_sub_epi8(l.x, l.b), _mm_sub_epi8(l.x, AverageFloor(l.a, l.b)),
                              _mm_sub_epi8(l.x, PaethPredict(l.a, l.b, l.c))};
        acc[0] = _mm_add_epi64(acc[0], _mm_sad_epu8(absSigned(l.x), zero));
        for (int k = 0; k < 4; ++k) {
            acc[k + 1] = _mm_add_epi64(acc[k + 1], _mm_sad_epu8(absSigned(f[k]), zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(filtered + static_cast<std::size_t>(k) * n + i), f[k]);
        }
    }
    for (int f = 0; f < 5; ++f) {
        sums[f] = static_cast<unsigned>(lanesSum(acc[f]));
    }
    return i;
}

}  // namespace
#endif

#if defined(TILVEX_AVX2_PATHS)
namespace {
// The same as sumsOfFour, 32 bytes at a time, for processors that have AVX2: twice the bytes
// a step, the same bytes out.
TILVEX_AVX2 inline __m256i absSigned32(__m256i v) { return _mm256_min_epu8(v, _mm256_sub_epi8(_mm256_setzero_si256(), v)); }

TILVEX_AVX2 std::size_t sumsOfFourAvx2(const uchar* row, const uchar* prev, std::size_t n, unsigned sums[5], uchar* filtered) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i acc[5] = {zero, zero, zero, zero, zero};
    // Left of the first pixel are zeros: the first step reads its left pixels from copies.
    uchar firstLeft[2][36] = {};
    std::memcpy(firstLeft[0] + 4, row, std::min<std::size_t>(n, 32));
    std::memcpy(firstLeft[1] + 4, prev, std::min<std::size_t>(n, 32));
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(prev + i));
        const uchar* left = i == 0 ? firstLeft[0] : row + i - 4;
        const uchar* upLeft = i == 0 ? firstLeft[1] : prev + i - 4;
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(left));
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(upLeft));
        const __m256i f[4] = {_mm256_sub_epi8(x, a), _mm256_sub_epi8(x, b), _mm256_sub_epi8(x, AverageFloor32(a, b)),
                              _mm256_sub_epi8(x, PaethPredict32(a, b, c))};
        acc[0] = _mm256_add_epi64(acc[0], _mm256_sad_epu8(absSigned32(x), zero));
        for (int k = 0; k < 4; ++k) {
            acc[k + 1] = _mm256_add_epi64(acc[k + 1], _mm256_sad_epu8(absSigned32(f[k]), zero));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(filtered + static_cast<std::size_t>(k) * n + i), f[k]);
        }
    }
    for (int f = 0; f < 5; ++f) {
        alignas(32) std::uint64_t lanes[4];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), acc[f]);
        sums[f] = static_cast<unsigned>(lanes[0] + lanes[1] + lanes[2] + lanes[3]);
    }
    return i;
}

bool avx2 = HasAvx2();
}  // namespace

void UseAvx2Filters(bool use) { avx2 = use && HasAvx2(); }
#else
void UseAvx2Filters(bool) {}
#endif

namespace {
// Bytes from to n of a row under filter F into out, one at a time: the rest the vector loop left.
template <int F>
unsigned filterTail(const uchar* row, const uchar* prev, std::size_t from, std::size_t n, std::size_t bpp, uchar* out) {
    unsigned sum = 0;
    for (std::size_t i = from; i < n; ++i) {
        const bool left = i >= bpp;
        const uchar v = static_cast<uchar>(row[i] - predict<F>(left ? row[i - bpp] : 0, prev[i], left ? prev[i - bpp] : 0));
        out[i] = v;
        sum += static_cast<unsigned>(std::abs(static_cast<signed char>(v)));
    }
    return sum;
}

unsigned tailWith(int f, const uchar* row, const uchar* prev, std::size_t from, std::size_t n, std::size_t bpp, uchar* out) {
    switch (f) {
    case 1:
        return filterTail<1>(row, prev, from, n, bpp, out);
    case 2:
        return filterTail<2>(row, prev, from, n, bpp, out);
    case 3:
        return filterTail<3>(row, prev, from, n, bpp, out);
    default:
        return filterTail<4>(row, prev, from, n, bpp, out);
    }
}
}  // namespace

void FilterRow(const uchar* row, const uchar* prev, std::size_t n, int bpp, bool adaptive, uchar* out) {
    out[0] = 0;
    if (!adaptive) {
        std::memcpy(out + 1, row, n);
        return;
    }
    if (prev == nullptr) {
        thread_local std::vector<uchar> zeros;
        zeros.assign(n, 0);
        prev = zeros.data();
    }
    const auto b = static_cast<std::size_t>(bpp);
    // The row under each filter, and the five sums, reading the rows once.
    thread_local std::vector<uchar> filtered;
    filtered.resize(4 * n);
    unsigned sums[5] = {0, 0, 0, 0, 0};
    std::size_t done = 0;
#if defined(TILVEX_AVX2_PATHS)
    if (b == 4 && avx2) {
        done = sumsOfFourAvx2(row, prev, n, sums, filtered.data());
    } else
#endif
#if defined(__SSE2__)
    if (b == 4) {
        done = sumsOfFour(row, prev, n, sums, filtered.data());
    }
#endif
    for (std::size_t i = done; i < n; ++i) {
        sums[0] += static_cast<unsigned>(std::abs(static_cast<signed char>(row[i])));
    }
    for (int f = 1; f <= 4; ++f) {
        sums[f] += tailWith(f, row, prev, done, n, b, filtered.data() + static_cast<std::size_t>(f - 1) * n);
    }
    int chosen = 0;
    for (int f = 1; f <= 4; ++f) {
        if (sums[f] < sums[chosen]) {
            chosen = f;
        }
    }
    out[0] = static_cast<uchar>(chosen);
    std::memcpy(out + 1, chosen == 0 ? row : filtered.data() + static_cast<std::size_t>(chosen - 1) * n, n);
}

void FilterRows(const QImage& image, int first, int count, bool adaptive, std::vector<uchar>& out) {
    const int bpp = image.depth() / 8;
    const std::size_t rowBytes = static_cast<std::size_t>(image.width()) * bpp;
    const std::size_t stride = rowBytes + 1;
    out.resize(stride * static_cast<std::size_t>(count));
    auto run = [&](int from, int rows) {
        for (int y = from; y < from + rows; ++y) {
            FilterRow(image.constScanLine(y), y > 0 ? image.constScanLine(y - 1) : nullptr, rowBytes, bpp, adaptive,
                      out.data() + stride * static_cast<std::size_t>(y - first));
        }
    };
    const int rowsPerPart = static_cast<int>(std::max<std::size_t>(1, PartBytes / stride));
    if (count <= rowsPerPart) {
        run(first, count);
        return;
    }
    const int parts = (count + rowsPerPart - 1) / rowsPerPart;
    ParallelFor(static_cast<std::size_t>(parts), [&](std::size_t i) {
        const int from = first + static_cast<int>(i) * rowsPerPart;
        run(from, std::min(rowsPerPart, first + count - from));
    });
}

PngFilters ChooseFilters(const QImage& image, int first, int count, Deflater deflater) {
    const bool premultiplied = image.format() == QImage::Format_ARGB32_Premultiplied;
    if ((!premultiplied && image.format() != QImage::Format_RGBA8888) || count <= 0) {
        return PngFilters::None;
    }
    // A few bands of rows, spread over the range: matches run across neighbouring rows.
    constexpr int bands = 4;
    constexpr int bandRows = 16;
    thread_local std::vector<uchar> filtered;
    std::size_t sizes[2] = {0, 0};
    const int rows = std::min(bandRows, count);
    // The filters work on the straight pixels written: only the rows gauged are made so.
    QImage straight;
    if (premultiplied) {
        straight = QImage(image.width(), rows, QImage::Format_RGBA8888);
        if (straight.isNull()) {
            RaiseError(Err::OutOfMemory);
        }
    }
    for (int band = 0; band < bands; ++band) {
        const int from = first + static_cast<int>(static_cast<std::int64_t>(count - rows) * band / std::max(1, bands - 1));
        for (int y = 0; y < rows && premultiplied; ++y) {
            ToStraightRgbaRow(reinterpret_cast<const QRgb*>(image.constScanLine(from + y)), straight.scanLine(y), image.width());
        }
        const QImage& sample = premultiplied ? straight : image;
        const int at = premultiplied ? 0 : from;
        for (int mode = 0; mode < 2; ++mode) {
            FilterRows(sample, at, rows, mode == 1, filtered);
            sizes[mode] += quickSize(filtered, deflater);
        }
        if (rows == count) {
            break;
        }
    }
    return sizes[1] < sizes[0] ? PngFilters::Adaptive : PngFilters::None;
}
