#include "imaging/pngfilter.h"

#include "runtime/parallel.h"
#include "runtime/runtimeerror.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {
// Rows are filtered on every core in runs of about this many bytes.
constexpr std::size_t PartBytes = std::size_t{1} << 20;

// The Paeth predictor, written without branches so that the loop below vectorises.
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

// Filter F of PNG (1 Sub, 2 Up, 3 Average, 4 Paeth) on one row; gives the sum of the
// filtered bytes as signed values.
template <int F>
unsigned filterWith(const uchar* row, const uchar* prev, std::size_t n, std::size_t bpp, uchar* out) {
    unsigned sum = 0;
    // The first pixel has no left neighbour; past it the loop runs without tests.
    for (std::size_t i = 0; i < bpp && i < n; ++i) {
        out[i] = static_cast<uchar>(row[i] - predict<F>(0, prev[i], 0));
        sum += static_cast<unsigned>(std::abs(static_cast<signed char>(out[i])));
    }
    for (std::size_t i = bpp; i < n; ++i) {
        out[i] = static_cast<uchar>(row[i] - predict<F>(row[i - bpp], prev[i], prev[i - bpp]));
        sum += static_cast<unsigned>(std::abs(static_cast<signed char>(out[i])));
    }
    return sum;
}

// The compressed size of data at libdeflate's quickest level: a cheap gauge of filtering.
std::size_t quickSize(const std::vector<uchar>& data) {
    struct Quick {
        libdeflate_compressor* c = libdeflate_alloc_compressor(1);
        ~Quick() { libdeflate_free_compressor(c); }
    };
    thread_local Quick quick;
    thread_local std::vector<uchar> out;
    if (quick.c == nullptr) {
        RaiseError(Err::OutOfMemory);
    }
    out.resize(libdeflate_zlib_compress_bound(quick.c, data.size()));
    return libdeflate_zlib_compress(quick.c, data.data(), data.size(), out.data(), out.size());
}
}  // namespace

void FilterRow(const uchar* row, const uchar* prev, std::size_t n, int bpp, bool adaptive, uchar* out,
               std::vector<uchar>& scratch) {
    out[0] = 0;
    std::memcpy(out + 1, row, n);
    if (!adaptive) {
        return;
    }
    if (prev == nullptr) {
        thread_local std::vector<uchar> zeros;
        zeros.assign(n, 0);
        prev = zeros.data();
    }
    scratch.resize(4 * n);
    unsigned best = 0;
    for (std::size_t i = 0; i < n; ++i) {
        best += static_cast<unsigned>(std::abs(static_cast<signed char>(row[i])));
    }
    const auto b = static_cast<std::size_t>(bpp);
    const unsigned sums[4] = {filterWith<1>(row, prev, n, b, scratch.data()), filterWith<2>(row, prev, n, b, scratch.data() + n),
                              filterWith<3>(row, prev, n, b, scratch.data() + 2 * n),
                              filterWith<4>(row, prev, n, b, scratch.data() + 3 * n)};
    for (int f = 0; f < 4; ++f) {
        if (sums[f] < best) {
            best = sums[f];
            out[0] = static_cast<uchar>(f + 1);
        }
    }
    if (out[0] != 0) {
        std::memcpy(out + 1, scratch.data() + (out[0] - 1) * n, n);
    }
}

void FilterRows(const QImage& image, int first, int count, bool adaptive, std::vector<uchar>& out) {
    const int bpp = image.depth() / 8;
    const std::size_t rowBytes = static_cast<std::size_t>(image.width()) * bpp;
    const std::size_t stride = rowBytes + 1;
    out.resize(stride * static_cast<std::size_t>(count));
    auto run = [&](int from, int rows) {
        thread_local std::vector<uchar> scratch;
        for (int y = from; y < from + rows; ++y) {
            FilterRow(image.constScanLine(y), y > 0 ? image.constScanLine(y - 1) : nullptr, rowBytes, bpp, adaptive,
                      out.data() + stride * static_cast<std::size_t>(y - first), scratch);
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

PngFilters ChooseFilters(const QImage& image, int first, int count) {
    if (image.format() != QImage::Format_RGBA8888 || count <= 0) {
        return PngFilters::None;
    }
    // A few bands of rows, spread over the range: matches run across neighbouring rows.
    constexpr int bands = 4;
    constexpr int bandRows = 16;
    thread_local std::vector<uchar> filtered;
    std::size_t sizes[2] = {0, 0};
    for (int band = 0; band < bands; ++band) {
        const int rows = std::min(bandRows, count);
        const int from = first + static_cast<int>(static_cast<std::int64_t>(count - rows) * band / std::max(1, bands - 1));
        for (int mode = 0; mode < 2; ++mode) {
            FilterRows(image, from, rows, mode == 1, filtered);
            sizes[mode] += quickSize(filtered);
        }
        if (rows == count) {
            break;
        }
    }
    return sizes[1] < sizes[0] ? PngFilters::Adaptive : PngFilters::None;
}
