#include "imaging/pngwriter.h"

#include "imaging/parallel.h"
#include "runtime/runtimeerror.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
// The default level of zlib and libdeflate: about the size other tools write, at a
// fraction of the time of the top levels.
constexpr int Level = 6;
// Rows are filtered on every core in runs of about this many bytes.
constexpr std::size_t PartBytes = std::size_t{1} << 20;

void putBig32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

void appendChunk(QByteArray& out, const char* type, const void* data, std::size_t size) {
    unsigned char head[8];
    putBig32(head, static_cast<std::uint32_t>(size));
    std::memcpy(head + 4, type, 4);
    out.append(reinterpret_cast<const char*>(head), 8);
    out.append(static_cast<const char*>(data), static_cast<qsizetype>(size));
    std::uint32_t crc = libdeflate_crc32(0, head + 4, 4);
    // Given no buffer, the sum starts afresh instead of going on.
    if (size > 0) {
        crc = libdeflate_crc32(crc, data, size);
    }
    unsigned char tail[4];
    putBig32(tail, static_cast<std::uint32_t>(crc));
    out.append(reinterpret_cast<const char*>(tail), 4);
}

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
// filtered bytes as signed values. prev is a row of zeros for the first row.
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

// One row with its filter byte. Truecolour rows take the filter whose bytes sum smallest
// as signed values (the usual heuristic); palette indexes compress best unfiltered.
void filterRow(const uchar* row, const uchar* prev, std::size_t n, int bpp, bool adaptive, uchar* out,
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
    const unsigned sums[4] = {filterWith<1>(row, prev, n, static_cast<std::size_t>(bpp), scratch.data()),
                              filterWith<2>(row, prev, n, static_cast<std::size_t>(bpp), scratch.data() + n),
                              filterWith<3>(row, prev, n, static_cast<std::size_t>(bpp), scratch.data() + 2 * n),
                              filterWith<4>(row, prev, n, static_cast<std::size_t>(bpp), scratch.data() + 3 * n)};
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

// One compressor per thread, kept: thousands of tiles need no fresh set-up each.
class Compressor {
public:
    explicit Compressor(int level) : compressor_(libdeflate_alloc_compressor(level)) {}
    ~Compressor() { libdeflate_free_compressor(compressor_); }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    // The data as one zlib stream.
    void Compress(const uchar* data, std::size_t size, std::vector<uchar>& out) {
        if (compressor_ == nullptr) {
            RaiseError(Err::OutOfMemory);
        }
        out.resize(libdeflate_zlib_compress_bound(compressor_, size));
        out.resize(libdeflate_zlib_compress(compressor_, data, size, out.data(), out.size()));
        if (out.empty()) {
            RaiseError(Err::OutOfMemory);
        }
    }

private:
    libdeflate_compressor* compressor_;
};

// Rows first to first + count of the image, each with its filter byte, as the zlib stream
// of a PNG holds them. Many rows are filtered in runs on every core.
void filterRows(const QImage& image, int first, int count, bool adaptive, std::vector<uchar>& out) {
    const int bpp = image.depth() / 8;
    const std::size_t rowBytes = static_cast<std::size_t>(image.width()) * bpp;
    const std::size_t stride = rowBytes + 1;
    out.resize(stride * static_cast<std::size_t>(count));
    auto run = [&](int from, int rows) {
        thread_local std::vector<uchar> scratch;
        for (int y = from; y < from + rows; ++y) {
            filterRow(image.constScanLine(y), y > 0 ? image.constScanLine(y - 1) : nullptr, rowBytes, bpp, adaptive,
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
}  // namespace

PngFilters ChooseFilters(const QImage& image, int first, int count) {
    if (image.format() != QImage::Format_RGBA8888 || count <= 0) {
        return PngFilters::None;
    }
    // A few bands of rows, spread over the range: matches run across neighbouring rows.
    constexpr int bands = 4;
    constexpr int bandRows = 16;
    thread_local std::vector<uchar> filtered;
    thread_local Compressor quick(1);
    std::vector<uchar> compressed;
    std::size_t sizes[2] = {0, 0};
    for (int band = 0; band < bands; ++band) {
        const int rows = std::min(bandRows, count);
        const int from = first + static_cast<int>(static_cast<std::int64_t>(count - rows) * band / std::max(1, bands - 1));
        for (int mode = 0; mode < 2; ++mode) {
            filterRows(image, from, rows, mode == 1, filtered);
            quick.Compress(filtered.data(), filtered.size(), compressed);
            sizes[mode] += compressed.size();
        }
        if (rows == count) {
            break;
        }
    }
    return sizes[1] < sizes[0] ? PngFilters::Adaptive : PngFilters::None;
}

QByteArray EncodePng(const QImage& image, PngFilters filters) {
    const bool indexed = image.format() == QImage::Format_Indexed8;
    if ((!indexed && image.format() != QImage::Format_RGBA8888) || image.isNull() ||
        (indexed && image.colorTable().isEmpty())) {
        RaiseError(Err::InvalidCall);
    }
    thread_local std::vector<uchar> filtered;
    thread_local std::vector<uchar> compressed;
    thread_local Compressor compressor(Level);
    filterRows(image, 0, image.height(), !indexed && filters == PngFilters::Adaptive, filtered);
    compressor.Compress(filtered.data(), filtered.size(), compressed);

    QByteArray out;
    out.reserve(static_cast<qsizetype>(compressed.size() + 64 + 4 * 256));
    out.append("\x89PNG\r\n\x1a\n", 8);
    unsigned char ihdr[13];
    putBig32(ihdr, static_cast<std::uint32_t>(image.width()));
    putBig32(ihdr + 4, static_cast<std::uint32_t>(image.height()));
    ihdr[8] = 8;
    ihdr[9] = indexed ? 3 : 6;
    ihdr[10] = ihdr[11] = ihdr[12] = 0;
    appendChunk(out, "IHDR", ihdr, sizeof ihdr);
    if (indexed) {
        const QList<QRgb> palette = image.colorTable();
        std::vector<uchar> plte;
        std::vector<uchar> trns;
        for (const QRgb c : palette) {
            plte.insert(plte.end(), {static_cast<uchar>(qRed(c)), static_cast<uchar>(qGreen(c)), static_cast<uchar>(qBlue(c))});
            trns.push_back(static_cast<uchar>(qAlpha(c)));
        }
        // tRNS stops after the last entry that is not opaque.
        while (!trns.empty() && trns.back() == 255) {
            trns.pop_back();
        }
        appendChunk(out, "PLTE", plte.data(), plte.size());
        if (!trns.empty()) {
            appendChunk(out, "tRNS", trns.data(), trns.size());
        }
    }

    appendChunk(out, "IDAT", compressed.data(), compressed.size());
    appendChunk(out, "IEND", nullptr, 0);
    // A sheet's buffers go back; a tile's stay for the next tile.
    if (filtered.size() > PartBytes) {
        std::vector<uchar>().swap(filtered);
        std::vector<uchar>().swap(compressed);
    }
    return out;
}
