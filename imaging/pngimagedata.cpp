#include "imaging/pngimagedata.h"

#include "imaging/pngchunks.h"
#include "runtime/parallel.h"
#include "runtime/runtimeerror.h"

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {
constexpr std::size_t PartBytes = std::size_t{1} << 20;
// igzip's level 2 (of 0 to 3): on sheets as quick as its level 1 and a few per cent smaller; level 3
// takes three times as long.
constexpr int Level = 2;

// A whole IDAT chunk in out: room for its head was left in front of its size data bytes,
// and for its CRC after them. Its length in the file.
std::size_t closeChunk(uchar* out, std::size_t size) {
    PutBig32(out, static_cast<std::uint32_t>(size));
    std::memcpy(out + 4, "IDAT", 4);
    PutBig32(out + 8 + size, libdeflate_crc32(0, out + 4, 4 + size));
    return 8 + size + 4;
}

// Bytes that are written before they are read, so never cleared.
struct Buffer {
    std::unique_ptr<uchar[]> bytes;
    std::size_t room = 0;
    uchar* Room(std::size_t size) {
        if (room < size) {
            bytes.reset(new (std::nothrow) uchar[size]);
            room = bytes ? size : 0;
            if (!bytes) {
                RaiseError(Err::OutOfMemory);
            }
        }
        return bytes.get();
    }
};
}  // namespace

struct PngImageData::Part {
    Buffer chunk;
    std::size_t chunkBytes = 0;
    Buffer filtered;  // the rows filtered, as deflate takes them
    Buffer level;     // igzip's work memory
    std::uint32_t adler = 1;
    std::size_t rawBytes = 0;
    bool leads = false;  // the stream's first part: it carries the zlib header
};

int PngImageData::PartRows(int width, QImage::Format format) {
    const std::size_t rowBytes = static_cast<std::size_t>(std::max(0, width)) * (format == QImage::Format_Indexed8 ? 1 : 4);
    return static_cast<int>(std::max<std::size_t>(1, PartBytes / (rowBytes + 1)));
}

PngImageData::PngImageData(int width, QImage::Format format, PngFilters filters)
    : rowBytes_(static_cast<std::size_t>(width) * (format == QImage::Format_Indexed8 ? 1 : 4)),
      bpp_(format == QImage::Format_Indexed8 ? 1 : 4),
      adaptive_(format != QImage::Format_Indexed8 && filters == PngFilters::Adaptive),
      rowsPerPart_(PartRows(width, format)) {}

PngImageData::~PngImageData() = default;

void PngImageData::compress(const Rows& rows, Part& part) const {
    const std::size_t stride = rowBytes_ + 1;
    part.rawBytes = stride * static_cast<std::size_t>(rows.count);
    uchar* const filtered = part.filtered.Room(part.rawBytes);
    for (int y = rows.first; y < rows.first + rows.count; ++y) {
        const uchar* prev = y > rows.first ? rows.image->constScanLine(y - 1) : rows.above;
        FilterRow(rows.image->constScanLine(y), prev, rowBytes_, bpp_, adaptive_, filtered + stride * static_cast<std::size_t>(y - rows.first));
    }
    part.adler = isal_adler32(1, filtered, part.rawBytes);

    const std::size_t lead = part.leads ? 2 : 0;
    // Stored blocks are the worst igzip writes: 5 bytes in front of every 64 KiB, and the flush.
    const std::size_t bound = part.rawBytes + part.rawBytes / 8192 + 1024;
    uchar* const chunk = part.chunk.Room(8 + lead + bound + 4);
    if (part.leads) {
        // zlib's header: deflate with a 32 KiB window, no dictionary.
        chunk[8] = 0x78;
        chunk[9] = 0x01;
    }
    isal_zstream stream;
    isal_deflate_stateless_init(&stream);
    stream.level = Level;
    stream.level_buf = part.level.Room(ISAL_DEF_LVL2_DEFAULT);
    stream.level_buf_size = ISAL_DEF_LVL2_DEFAULT;
    stream.flush = FULL_FLUSH;
    stream.end_of_stream = 0;
    stream.next_in = filtered;
    stream.avail_in = static_cast<std::uint32_t>(part.rawBytes);
    stream.next_out = chunk + 8 + lead;
    stream.avail_out = static_cast<std::uint32_t>(bound);
    if (isal_deflate_stateless(&stream) != COMP_OK) {
        RaiseError(Err::OutOfMemory);
    }
    part.chunkBytes = closeChunk(chunk, lead + stream.total_out);
}

void PngImageData::compressParts(const std::vector<Rows>& parts, const Sink& sink) {
    const int count = static_cast<int>(parts.size());
    // A round of one part a thread at a time: only that many compressed parts wait to go out.
    const int round = std::max(1, WorkerCount());
    std::vector<Part>& done = done_;
    if (done.size() < static_cast<std::size_t>(std::min(round, count))) {
        done.resize(static_cast<std::size_t>(std::min(round, count)));
    }
    for (int from = 0; from < count; from += round) {
        const int now = std::min(round, count - from);
        ParallelFor(static_cast<std::size_t>(now), [&](std::size_t i) {
            const int part = from + static_cast<int>(i);
            done[i].leads = !started_ && part == 0;
            compress(parts[static_cast<std::size_t>(part)], done[i]);
        });
        for (int i = 0; i < now; ++i) {
            Part& part = done[static_cast<std::size_t>(i)];
            adler_ = static_cast<std::uint32_t>(adler32_combine(adler_, part.adler, static_cast<z_off_t>(part.rawBytes)));
            sink(reinterpret_cast<const char*>(part.chunk.bytes.get()), part.chunkBytes);
        }
        started_ = true;
    }
    if (count > 0) {
        const Rows& last = parts.back();
        const uchar* row = last.image->constScanLine(last.first + last.count - 1);
        lastRow_.assign(row, row + rowBytes_);
    }
}

void PngImageData::Add(const QImage& band, const Sink& sink) {
    const int rows = band.height();
    if (rows <= 0) {
        return;
    }
    if (waiting_.isNull()) {
        waiting_ = QImage(static_cast<int>(rowBytes_ / static_cast<std::size_t>(bpp_)), rowsPerPart_, band.format());
        if (waiting_.isNull()) {
            RaiseError(Err::OutOfMemory);
        }
    }
    const uchar* above = lastRow_.empty() ? nullptr : lastRow_.data();
    std::vector<Rows> parts;
    int first = 0;
    if (waitingRows_ > 0) {
        first = std::min(rowsPerPart_ - waitingRows_, rows);
        for (int y = 0; y < first; ++y) {
            std::memcpy(waiting_.scanLine(waitingRows_ + y), band.constScanLine(y), rowBytes_);
        }
        waitingRows_ += first;
        if (waitingRows_ < rowsPerPart_) {
            return;
        }
        parts.push_back(Rows{&waiting_, 0, rowsPerPart_, above});
        waitingRows_ = 0;
    }
    for (; rows - first >= rowsPerPart_; first += rowsPerPart_) {
        parts.push_back(Rows{&band, first, rowsPerPart_, first > 0 ? band.constScanLine(first - 1) : above});
    }
    compressParts(parts, sink);
    // Compressed already, the waiting rows may be overwritten.
    for (int y = first; y < rows; ++y) {
        std::memcpy(waiting_.scanLine(waitingRows_++), band.constScanLine(y), rowBytes_);
    }
}

void PngImageData::Finish(const Sink& sink) {
    if (waitingRows_ > 0) {
        compressParts({Rows{&waiting_, 0, waitingRows_, lastRow_.empty() ? nullptr : lastRow_.data()}}, sink);
        waitingRows_ = 0;
    }
    // After a header where no rows came; then an empty final block of fixed codes, and the sum.
    std::vector<uchar> chunk(8 + 2 + 2 + 4 + 4);
    std::size_t at = 8;
    if (!started_) {
        chunk[at++] = 0x78;
        chunk[at++] = 0x01;
    }
    chunk[at++] = 0x03;
    chunk[at++] = 0x00;
    PutBig32(chunk.data() + at, adler_);
    at += 4;
    sink(reinterpret_cast<const char*>(chunk.data()), closeChunk(chunk.data(), at - 8));
}
