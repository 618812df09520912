#include "imaging/pngwriter.h"

#include "imaging/parallel.h"
#include "platform/runtimeerror.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
// zlib's default level: the size users know from other tools, at a fraction of level 9's time.
constexpr int Level = 6;
constexpr std::size_t PartBytes = std::size_t{1} << 20;
constexpr std::size_t Window = 32768;

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
    uLong crc = crc32(0, head + 4, 4);
    // Given no buffer, crc32 answers its start value, not the sum so far.
    if (size > 0) {
        crc = crc32_z(crc, static_cast<const Bytef*>(data), size);
    }
    unsigned char tail[4];
    putBig32(tail, static_cast<std::uint32_t>(crc));
    out.append(reinterpret_cast<const char*>(tail), 4);
}

int paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a);
    const int pb = std::abs(p - b);
    const int pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// One row with its filter byte. Truecolour rows take the filter whose bytes sum smallest
// as signed values (the usual heuristic); palette indexes compress best unfiltered.
void filterRow(const uchar* row, const uchar* prev, std::size_t n, int bpp, bool adaptive, uchar* out,
               std::vector<uchar>& scratch) {
    if (!adaptive) {
        out[0] = 0;
        std::memcpy(out + 1, row, n);
        return;
    }
    scratch.resize(5 * n);
    unsigned long best = ~0ul;
    int bestFilter = 0;
    for (int f = 0; f < 5; ++f) {
        uchar* d = scratch.data() + f * n;
        unsigned long sum = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const int a = i >= static_cast<std::size_t>(bpp) ? row[i - bpp] : 0;
            const int b = prev != nullptr ? prev[i] : 0;
            const int c = prev != nullptr && i >= static_cast<std::size_t>(bpp) ? prev[i - bpp] : 0;
            const int predicted = f == 0 ? 0 : f == 1 ? a : f == 2 ? b : f == 3 ? (a + b) / 2 : paeth(a, b, c);
            d[i] = static_cast<uchar>(row[i] - predicted);
            sum += static_cast<unsigned long>(std::abs(static_cast<signed char>(d[i])));
        }
        if (sum < best) {
            best = sum;
            bestFilter = f;
        }
    }
    out[0] = static_cast<uchar>(bestFilter);
    std::memcpy(out + 1, scratch.data() + bestFilter * n, n);
}

// A raw deflate stream kept per thread: thousands of tiles need no fresh set-up each.
class Deflater {
public:
    ~Deflater() {
        if (windowBits_ != 0) {
            deflateEnd(&stream_);
        }
    }
    z_stream& Start(int windowBits) {
        if (windowBits_ == windowBits) {
            deflateReset(&stream_);
            return stream_;
        }
        if (windowBits_ != 0) {
            deflateEnd(&stream_);
        }
        stream_ = z_stream {};
        windowBits_ = 0;
        if (deflateInit2(&stream_, Level, Z_DEFLATED, -windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            RaiseError(Err::OutOfMemory);
        }
        windowBits_ = windowBits;
        return stream_;
    }

private:
    z_stream stream_ {};
    int windowBits_ = 0;
};

struct Part {
    int firstRow = 0;
    int rows = 0;
    std::vector<uchar> compressed;
    uLong adler = 0;
    std::size_t bytes = 0;
};

struct Layout {
    const QImage* image;
    std::size_t rowBytes;
    int bpp;
    bool adaptive;
    int windowBits;
};

// Filters and compresses one run of rows. A part after the first is primed with the 32 KB
// that precede it, so the joined stream compresses as well as one made in one go.
void compressPart(const Layout& layout, Part& part, bool last) {
    thread_local std::vector<uchar> filtered;
    thread_local std::vector<uchar> scratch;
    thread_local Deflater deflater;
    const std::size_t stride = layout.rowBytes + 1;
    const int primeRows = part.firstRow == 0 ? 0 : std::min(part.firstRow, static_cast<int>((Window + stride - 1) / stride));
    const int from = part.firstRow - primeRows;
    filtered.resize(stride * static_cast<std::size_t>(primeRows + part.rows));
    for (int y = from; y < part.firstRow + part.rows; ++y) {
        const uchar* prev = y > 0 ? layout.image->constScanLine(y - 1) : nullptr;
        filterRow(layout.image->constScanLine(y), prev, layout.rowBytes, layout.bpp, layout.adaptive,
                  filtered.data() + stride * static_cast<std::size_t>(y - from), scratch);
    }
    const std::size_t primeBytes = stride * static_cast<std::size_t>(primeRows);
    const uchar* data = filtered.data() + primeBytes;
    part.bytes = stride * static_cast<std::size_t>(part.rows);
    part.adler = adler32_z(1, data, part.bytes);

    z_stream& z = deflater.Start(layout.windowBits);
    if (primeBytes > 0) {
        const std::size_t dict = std::min(primeBytes, Window);
        deflateSetDictionary(&z, data - dict, static_cast<uInt>(dict));
    }
    part.compressed.resize(deflateBound(&z, static_cast<uLong>(part.bytes)) + 64);
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(part.bytes);
    std::size_t produced = 0;
    const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
        z.next_out = part.compressed.data() + produced;
        z.avail_out = static_cast<uInt>(part.compressed.size() - produced);
        const int result = deflate(&z, flush);
        produced = part.compressed.size() - z.avail_out;
        if (result == Z_STREAM_END || (!last && z.avail_in == 0 && z.avail_out != 0)) {
            break;
        }
        if (result != Z_OK && result != Z_BUF_ERROR) {
            RaiseError(Err::OutOfMemory);
        }
        part.compressed.resize(part.compressed.size() * 2);
    }
    part.compressed.resize(produced);
}
}  // namespace

QByteArray EncodePng(const QImage& image) {
    const bool indexed = image.format() == QImage::Format_Indexed8;
    if ((!indexed && image.format() != QImage::Format_RGBA8888) || image.isNull()) {
        RaiseError(Err::InvalidCall);
    }
    Layout layout {&image, static_cast<std::size_t>(image.width()) * (indexed ? 1 : 4), indexed ? 1 : 4, !indexed, 15};
    const std::size_t total = (layout.rowBytes + 1) * static_cast<std::size_t>(image.height());
    // A small image gets a window no larger than itself: the same stream, less set-up.
    while (layout.windowBits > 9 && (std::size_t{1} << (layout.windowBits - 1)) >= total) {
        --layout.windowBits;
    }

    const int rowsPerPart = static_cast<int>(std::max<std::size_t>(1, PartBytes / (layout.rowBytes + 1)));
    std::vector<Part> parts;
    for (int y = 0; y < image.height(); y += rowsPerPart) {
        parts.push_back({y, std::min(rowsPerPart, image.height() - y), {}, 0, 0});
    }
    if (parts.size() == 1) {
        compressPart(layout, parts[0], true);
    } else {
        ParallelFor(parts.size(), [&](std::size_t i) { compressPart(layout, parts[i], i + 1 == parts.size()); });
    }

    QByteArray out;
    std::size_t size = 64 + 3 * 256 + 12 * parts.size();
    for (const Part& part : parts) {
        size += part.compressed.size();
    }
    out.reserve(static_cast<qsizetype>(size));
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

    uLong adler = 1;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        Part& part = parts[i];
        adler = adler32_combine(adler, part.adler, static_cast<z_off_t>(part.bytes));
        std::vector<uchar>& data = part.compressed;
        if (i == 0) {
            const uchar cmf = static_cast<uchar>(((layout.windowBits - 8) << 4) | 8);
            uchar flg = 0x80;
            flg = static_cast<uchar>(flg + (31 - (cmf * 256 + flg) % 31) % 31);
            data.insert(data.begin(), {cmf, flg});
        }
        if (i + 1 == parts.size()) {
            uchar tail[4];
            putBig32(tail, static_cast<std::uint32_t>(adler));
            data.insert(data.end(), tail, tail + 4);
        }
        appendChunk(out, "IDAT", data.data(), data.size());
    }
    appendChunk(out, "IEND", nullptr, 0);
    return out;
}
