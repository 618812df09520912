#include "imaging/pngimagedata.h"

#include "imaging/pixelcopy.h"
#include "imaging/pngchunks.h"
#include "runtime/helperqueue.h"
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
    QImage image;  // holds the rows until they are compressed
    int first = 0;
    int count = 0;
    std::vector<uchar> above;  // the row over the first; empty over the picture's first row
    bool leads = false;        // the stream's first part: it carries the zlib header
    Buffer chunk;
    std::size_t chunkBytes = 0;
    std::uint32_t adler = 1;
    std::size_t rawBytes = 0;
    bool done = false;
    std::exception_ptr failure;
};

const uchar* PngImageData::lastRow() const { return lastRow_.empty() ? nullptr : lastRow_.data(); }

int PngImageData::PartRows(int width, QImage::Format format) {
    const std::size_t rowBytes = static_cast<std::size_t>(std::max(0, width)) * (format == QImage::Format_Indexed8 ? 1 : 4);
    return static_cast<int>(std::max<std::size_t>(1, PartBytes / (rowBytes + 1)));
}

PngImageData::PngImageData(int width, QImage::Format format, PngFilters filters)
    : rowBytes_(static_cast<std::size_t>(width) * (format == QImage::Format_Indexed8 ? 1 : 4)),
      bpp_(format == QImage::Format_Indexed8 ? 1 : 4),
      adaptive_(format != QImage::Format_Indexed8 && filters == PngFilters::Adaptive),
      rowsPerPart_(PartRows(width, format)) {
    // Within a loop on every core already, or with one thread, the caller compresses.
    if (WorkerCount() > 1 && !InsideParallelFor()) {
        helpers_ = std::make_unique<HelperQueue>(WorkerCount());
    }
}

PngImageData::~PngImageData() {
    if (helpers_) {
        helpers_->Stop();
    }
}

void PngImageData::compress(Part& part) const {
    const std::size_t stride = rowBytes_ + 1;
    part.rawBytes = stride * static_cast<std::size_t>(part.count);
    // The rows filtered, as deflate takes them, and igzip's work memory: a thread's own, kept
    // from part to part. Only the compressed chunk waits with the part for its turn.
    thread_local Buffer filteredRows;
    thread_local Buffer levelMemory;
    uchar* const filtered = filteredRows.Room(part.rawBytes);
    // Premultiplied rows are made straight RGBA here, on the helpers, a row at a time.
    const bool premultiplied = part.image.format() == QImage::Format_ARGB32_Premultiplied;
    const int width = static_cast<int>(rowBytes_ / static_cast<std::size_t>(bpp_));
    const auto out = [&](int y) { return filtered + stride * static_cast<std::size_t>(y - part.first); };
    if (premultiplied && !adaptive_) {
        // Unfiltered, each row is made straight where deflate takes it.
        for (int y = part.first; y < part.first + part.count; ++y) {
            out(y)[0] = 0;
            ToStraightRgbaRow(reinterpret_cast<const QRgb*>(part.image.constScanLine(y)), out(y) + 1, width);
        }
    } else {
        // Filtered, a premultiplied row and the one above it are made straight in turns.
        thread_local std::vector<uchar> straight[2];
        const auto rowOf = [&](const uchar* row, int slot) -> const uchar* {
            if (!premultiplied || row == nullptr) {
                return row;
            }
            straight[slot].resize(rowBytes_);
            ToStraightRgbaRow(reinterpret_cast<const QRgb*>(row), straight[slot].data(), width);
            return straight[slot].data();
        };
        const uchar* prev = rowOf(part.above.empty() ? nullptr : part.above.data(), 1);
        for (int y = part.first; y < part.first + part.count; ++y) {
            const uchar* row = rowOf(part.image.constScanLine(y), (y - part.first) % 2);
            FilterRow(row, prev, rowBytes_, bpp_, adaptive_, out(y));
            prev = row;
        }
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
    stream.level_buf = levelMemory.Room(ISAL_DEF_LVL2_DEFAULT);
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

void PngImageData::post(QImage image, int first, int count, const uchar* above) {
    // Two parts a helper at most, compressing or done and waiting their turn: the memory of
    // a part is three times its rows.
    const std::uint64_t most = 2 * static_cast<std::uint64_t>(std::max(1, WorkerCount()));
    if (posted_ >= most) {
        waitFor(posted_ - most + 1);
    }
    std::unique_ptr<Part> part;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        if (!spare_.empty()) {
            part = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    if (!part) {
        part = std::make_unique<Part>();
    }
    part->image = std::move(image);
    part->first = first;
    part->count = count;
    part->above.assign(above, above == nullptr ? above : above + rowBytes_);
    part->leads = posted_++ == 0;
    part->done = false;
    part->failure = nullptr;
    Part* const job = part.get();
    {
        const std::lock_guard<std::mutex> hold(lock_);
        parts_.push_back(std::move(part));
    }
    auto run = [this, job] {
        std::exception_ptr failure;
        try {
            compress(*job);
        } catch (...) {
            failure = std::current_exception();
        }
        QImage rows = std::move(job->image);
        {
            const std::lock_guard<std::mutex> hold(lock_);
            job->failure = failure;
            job->done = true;
        }
        writeDone();
    };
    if (helpers_) {
        helpers_->Post(run);
    } else {
        run();
    }
}

void PngImageData::writeDone() {
    std::unique_lock<std::mutex> hold(lock_);
    // One thread writes at a time, every part done in order; the others go back to work.
    if (writing_) {
        return;
    }
    writing_ = true;
    while (!failure_ && !parts_.empty() && parts_.front()->done) {
        std::unique_ptr<Part> part = std::move(parts_.front());
        parts_.pop_front();
        hold.unlock();
        std::exception_ptr failure = part->failure;
        if (!failure) {
            try {
                adler_ = static_cast<std::uint32_t>(adler32_combine(adler_, part->adler, static_cast<z_off_t>(part->rawBytes)));
                sink_(reinterpret_cast<const char*>(part->chunk.bytes.get()), part->chunkBytes);
            } catch (...) {
                failure = std::current_exception();
            }
        }
        hold.lock();
        // Nothing after a failure is written.
        if (failure) {
            failure_ = failure;
        }
        ++written_;
        spare_.push_back(std::move(part));
    }
    writing_ = false;
    hold.unlock();
    done_.notify_all();
}

void PngImageData::waitFor(std::uint64_t mark) {
    std::unique_lock<std::mutex> hold(lock_);
    done_.wait(hold, [&] { return failure_ || (written_ >= mark && !writing_); });
    if (failure_) {
        std::rethrow_exception(failure_);
    }
}

void PngImageData::Add(const QImage& band, const Sink& sink) {
    const int rows = band.height();
    if (rows <= 0) {
        return;
    }
    if (posted_ == 0 && waitingRows_ == 0) {
        sink_ = sink;  // before any helper may call it
    }
    // Waiting rows and the row above are kept in the bands' format.
    if (posted_ + static_cast<std::uint64_t>(waitingRows_) > 0 && band.format() != format_) {
        RaiseError(Err::InvalidCall);
    }
    format_ = band.format();
    int first = 0;
    if (waitingRows_ > 0) {
        first = std::min(rowsPerPart_ - waitingRows_, rows);
        for (int y = 0; y < first; ++y) {
            std::memcpy(waiting_.scanLine(waitingRows_ + y), band.constScanLine(y), rowBytes_);
        }
        waitingRows_ += first;
        if (waitingRows_ == rowsPerPart_) {
            post(std::move(waiting_), 0, rowsPerPart_, lastRow());
            waiting_ = QImage();
            waitingRows_ = 0;
        }
    }
    for (; rows - first >= rowsPerPart_; first += rowsPerPart_) {
        const uchar* above = first > 0 ? band.constScanLine(first - 1) : lastRow();
        post(band, first, rowsPerPart_, above);
    }
    if (first < rows) {
        if (waitingRows_ == 0 && first > 0) {
            // The row over the waiting rows, which start a part.
            lastRow_.assign(band.constScanLine(first - 1), band.constScanLine(first - 1) + rowBytes_);
        }
        if (waiting_.isNull()) {
            waiting_ = QImage(static_cast<int>(rowBytes_ / static_cast<std::size_t>(bpp_)), rowsPerPart_, band.format());
            if (waiting_.isNull()) {
                RaiseError(Err::OutOfMemory);
            }
        }
        for (int y = first; y < rows; ++y) {
            std::memcpy(waiting_.scanLine(waitingRows_++), band.constScanLine(y), rowBytes_);
        }
    } else if (waitingRows_ == 0) {
        const uchar* row = band.constScanLine(rows - 1);
        lastRow_.assign(row, row + rowBytes_);
    }
}

void PngImageData::Finish(const Sink& sink) {
    if (posted_ == 0) {
        sink_ = sink;
    }
    if (waitingRows_ > 0) {
        post(std::move(waiting_), 0, waitingRows_, lastRow());
        waiting_ = QImage();
        waitingRows_ = 0;
    }
    waitFor(posted_);
    // After a header where no rows came; then an empty final block of fixed codes, and the sum.
    std::vector<uchar> chunk(8 + 2 + 2 + 4 + 4);
    std::size_t at = 8;
    if (posted_ == 0) {
        chunk[at++] = 0x78;
        chunk[at++] = 0x01;
    }
    chunk[at++] = 0x03;
    chunk[at++] = 0x00;
    PutBig32(chunk.data() + at, adler_);
    at += 4;
    sink(reinterpret_cast<const char*>(chunk.data()), closeChunk(chunk.data(), at - 8));
}
