#include "imaging/pngrows.h"

#include "imaging/pngunfilter.h"
#include "runtime/helperqueue.h"
#include "runtime/parallel.h"
#include "runtime/runtimeerror.h"

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {
// Pictures of up to this many bytes of rows (tiles, small sheets) are inflated whole by
// libdeflate into a buffer each thread keeps; bigger ones are inflated into the picture a band
// at a time by ISA-L, so decoding holds little more than the picture. A fresh buffer of a
// big picture's rows costs more in page faults than the whole inflate saves: ISA-L's streamed
// inflate takes about as many instructions (callgrind: 78 against 70 million for a 1024 by 1024
// sheet, unfiltering included), and a 4096 by 4096 sheet decoded several times slower whole.
constexpr std::size_t WholeBytes = std::size_t{8} << 20;
// Rows inflated at a time when streaming: about this many bytes.
constexpr std::size_t BandBytes = std::size_t{1} << 20;

std::uint32_t big32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

[[noreturn]] void broken() { RaiseError(Err::InvalidPicture); }

// The two bytes in front of a zlib stream: deflate, a window the format allows, no preset
// dictionary, and their check.
bool zlibHeaderSound(const unsigned char* p) {
    return (p[0] & 0x0f) == 8 && (p[0] >> 4) <= 7 && (p[1] & 0x20) == 0 && ((p[0] << 8) | p[1]) % 31 == 0;
}
}  // namespace

struct PngRows::Stream {
    inflate_state state {};
    std::size_t span = 0;  // the next IDAT chunk to feed
    bool started = false;
    // Rows inflated, in two buffers that take turns: one is unfiltered while a helper inflates
    // the next rows into the other. Kept from band to band: a band is read on a new thread
    // each time, whose own memory would be new pages to clear.
    std::vector<unsigned char> filtered[2];
    int rows[2] = {0, 0};
    int current = 0;     // the buffer being unfiltered
    int used = 0;        // its rows unfiltered
    int inflated = 0;    // rows inflated, or being inflated ahead
    bool ahead = false;  // the other buffer is being filled
    std::unique_ptr<HelperQueue> helper;  // last: stopped before the buffers go
};

PngRows::PngRows(const unsigned char* bytes, std::size_t size, int width, int height, int channels)
    : width_(width),
      height_(height),
      channels_(channels),
      rowBytes_(static_cast<std::size_t>(width) * static_cast<std::size_t>(channels)) {
    // The IDAT chunks, one run of them, each with its CRC checked. Chunks after the run are
    // libspng's concern; a file cut within the run is broken.
    std::size_t at = 8;
    bool inRun = false;
    while (at + 8 <= size) {
        const std::size_t length = big32(bytes + at);
        const bool idat = std::memcmp(bytes + at + 4, "IDAT", 4) == 0;
        if (length > 0x7fffffffu || length + 12 > size - at) {
            broken_ = idat || !inRun;
            return;
        }
        if (idat) {
            const auto crc = static_cast<std::uint32_t>(libdeflate_crc32(0, bytes + at + 4, 4 + length));
            if (crc != big32(bytes + at + 8 + length)) {
                broken_ = true;
                return;
            }
            idat_.push_back(Span{bytes + at + 8, length});
            inRun = true;
        } else if (inRun) {
            return;
        }
        at += 12 + length;
    }
    broken_ = !inRun;
}

PngRows::~PngRows() = default;

void PngRows::unfilter(const unsigned char* filtered, int count, QImage& into, int firstRow) {
    const std::size_t stride = rowBytes_ + 1;
    // RGBA lands in the picture directly, the row above being the one before it there; only
    // the last row of the call is kept for the next.
    const unsigned char* prev = rowsRead_ > 0 ? prev_.data() : nullptr;
    for (int y = 0; y < count; ++y) {
        const unsigned char* in = filtered + stride * static_cast<std::size_t>(y);
        uchar* out = into.scanLine(firstRow + y);
        int paethRows = 0;
        while (channels_ == 4 && paethRows < 8 && y + paethRows < count && in[stride * static_cast<std::size_t>(paethRows)] == 4) {
            ++paethRows;
        }
        if (paethRows > 1) {
            // Paeth, nearly every row of a sheet with gradients: up to eight rows at a time.
            const unsigned char* ins[8];
            uchar* outs[8];
            for (int k = 0; k < paethRows; ++k) {
                ins[k] = in + stride * static_cast<std::size_t>(k) + 1;
                outs[k] = into.scanLine(firstRow + y + k);
            }
            if (UnfilterPaethRows(ins, outs, paethRows, prev, rowBytes_)) {
                prev = outs[paethRows - 1];
                rowsRead_ += paethRows;
                y += paethRows - 1;
                continue;
            }
        }
        if (paethRows > 1) {
            // Without AVX2, a pair at a time.
            uchar* next = into.scanLine(firstRow + y + 1);
            UnfilterPaethPair(in + 1, in + stride + 1, out, next, prev, rowBytes_);
            prev = next;
            rowsRead_ += 2;
            ++y;
            continue;
        }
        unsigned char* target = channels_ == 4 ? out : row_.data();
        if (!UnfilterRow(in[0], in + 1, target, prev, rowBytes_, channels_)) {
            broken();
        }
        if (channels_ == 3) {
            for (int x = 0; x < width_; ++x) {
                out[4 * x] = target[3 * x];
                out[4 * x + 1] = target[3 * x + 1];
                out[4 * x + 2] = target[3 * x + 2];
                out[4 * x + 3] = 255;
            }
            std::memcpy(prev_.data(), target, rowBytes_);
            prev = prev_.data();
        } else {
            prev = target;
        }
        ++rowsRead_;
    }
    if (channels_ == 4 && count > 0 && prev != prev_.data()) {
        std::memcpy(prev_.data(), prev, rowBytes_);
    }
}

void PngRows::DecodeAll(QImage& image) {
    if (broken_) {
        broken();
    }
    const std::size_t total = (rowBytes_ + 1) * static_cast<std::size_t>(height_);
    prev_.resize(rowBytes_);
    row_.resize(rowBytes_);
    if (total > WholeBytes) {
        Read(image, height_);
        return;
    }
    unfilter(inflateWhole(total), height_, image, 0);
}

void PngRows::Check() {
    if (broken_) {
        broken();
    }
    const std::size_t stride = rowBytes_ + 1;
    const std::size_t total = stride * static_cast<std::size_t>(height_);
    const auto checkFilters = [&](const unsigned char* filtered, int rows) {
        for (int y = 0; y < rows; ++y) {
            if (filtered[stride * static_cast<std::size_t>(y)] > 4) {
                broken();
            }
        }
    };
    if (total <= WholeBytes) {
        checkFilters(inflateWhole(total), height_);
        return;
    }
    startStream();
    std::vector<unsigned char> filtered;
    const int band = static_cast<int>(std::max<std::size_t>(1, BandBytes / stride));
    for (int done = 0; done < height_; done += band) {
        const int rows = std::min(band, height_ - done);
        filtered.resize(stride * static_cast<std::size_t>(rows));
        inflateRows(filtered.data(), filtered.size());
        checkFilters(filtered.data(), rows);
    }
    finishStream();
    stream_.reset();  // a later decode reads from the start
}

// One zlib stream over every IDAT chunk inflated whole, its header and sum checked as the
// streamed way does; the rows, still filtered, in a buffer each thread keeps.
const unsigned char* PngRows::inflateWhole(std::size_t total) {
    thread_local std::vector<unsigned char> joined;
    joined.clear();
    const unsigned char* data = idat_[0].data;
    std::size_t size = idat_[0].size;
    if (idat_.size() > 1) {
        for (const Span& span : idat_) {
            joined.insert(joined.end(), span.data, span.data + span.size);
        }
        data = joined.data();
        size = joined.size();
    }
    if (size < 6 || !zlibHeaderSound(data)) {
        broken();
    }
    thread_local std::vector<unsigned char> filtered;
    filtered.resize(total);
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    if (d == nullptr) {
        RaiseError(Err::OutOfMemory);
    }
    std::size_t used = 0;
    const libdeflate_result result =
        libdeflate_deflate_decompress_ex(d, data + 2, size - 2, filtered.data(), total, &used, nullptr);
    libdeflate_free_decompressor(d);
    if (result != LIBDEFLATE_SUCCESS || 2 + used + 4 > size ||
        big32(data + 2 + used) != libdeflate_adler32(1, filtered.data(), total)) {
        broken();
    }
    return filtered.data();
}

// Inflates until out is full or the stream ends; ISA-L holds some input read ahead, so the
// stream is only short when a call with no input left gives nothing.
std::size_t PngRows::inflateSome(unsigned char* out, std::size_t size) {
    inflate_state& s = stream_->state;
    s.next_out = out;
    s.avail_out = static_cast<std::uint32_t>(size);
    while (s.avail_out > 0 && s.block_state != ISAL_BLOCK_FINISH) {
        const bool last = stream_->span == idat_.size();
        if (s.avail_in == 0 && !last) {
            const Span& span = idat_[stream_->span++];
            s.next_in = const_cast<unsigned char*>(span.data);
            s.avail_in = static_cast<std::uint32_t>(span.size);
        }
        const std::uint32_t before = s.avail_out;
        if (isal_inflate(&s) != ISAL_DECOMP_OK) {
            broken();
        }
        if (last && s.avail_in == 0 && s.avail_out == before && s.block_state != ISAL_BLOCK_FINISH) {
            broken();  // cut short
        }
    }
    return size - s.avail_out;
}

void PngRows::inflateRows(unsigned char* out, std::size_t size) {
    if (inflateSome(out, size) != size) {
        broken();  // the stream ends before the picture
    }
}

// Past the last row: the stream must end there, with its sum (ISA-L checks it).
void PngRows::finishStream() {
    unsigned char spare[64];
    if (inflateSome(spare, sizeof spare) != 0 || stream_->state.block_state != ISAL_BLOCK_FINISH) {
        broken();
    }
}

void PngRows::startStream() {
    stream_ = std::make_unique<Stream>();
    isal_inflate_init(&stream_->state);
    stream_->state.crc_flag = ISAL_ZLIB_NO_HDR_VER;
    // The zlib header is checked here, as the whole way checks it, and passed over
    // wherever the chunks cut it.
    unsigned char head[2] = {0, 0};
    std::size_t got = 0;
    while (got < 2 && stream_->span < idat_.size()) {
        const Span& span = idat_[stream_->span++];
        const std::size_t here = std::min(2 - got, span.size);
        std::memcpy(head + got, span.data, here);
        got += here;
        stream_->state.next_in = const_cast<unsigned char*>(span.data + here);
        stream_->state.avail_in = static_cast<std::uint32_t>(span.size - here);
    }
    if (got < 2 || !zlibHeaderSound(head)) {
        broken();
    }
}

void PngRows::Read(QImage& into, int count) {
    if (broken_) {
        broken();
    }
    if (count < 0 || rowsRead_ + count > height_) {
        RaiseError(Err::InvalidCall);
    }
    prev_.resize(rowBytes_);
    row_.resize(rowBytes_);
    if (!stream_) {
        startStream();
        // Inflating is one chain and unfiltering another: on two threads they overlap.
        if (WorkerCount() > 1 && !InsideParallelFor()) {
            stream_->helper = std::make_unique<HelperQueue>(1);
        }
    }
    Stream& s = *stream_;
    const std::size_t stride = rowBytes_ + 1;
    const int band = static_cast<int>(std::max<std::size_t>(1, BandBytes / stride));
    const auto fill = [this, &s, stride](int slot, int rows) {
        s.filtered[slot].resize(stride * static_cast<std::size_t>(rows));
        inflateRows(s.filtered[slot].data(), s.filtered[slot].size());
    };
    for (int done = 0; done < count;) {
        if (s.used == s.rows[s.current]) {
            if (s.ahead) {
                s.ahead = false;
                s.helper->Wait();
                s.current = 1 - s.current;
            } else {
                s.rows[s.current] = std::min(band, height_ - s.inflated);
                s.inflated += s.rows[s.current];
                fill(s.current, s.rows[s.current]);
            }
            s.used = 0;
            // The rows after these, inflated while these are unfiltered and used.
            if (s.helper && s.inflated < height_) {
                const int next = 1 - s.current;
                s.rows[next] = std::min(band, height_ - s.inflated);
                s.inflated += s.rows[next];
                s.ahead = true;
                s.helper->Post([fill, next, rows = s.rows[next]] { fill(next, rows); });
            }
        }
        const int rows = std::min(count - done, s.rows[s.current] - s.used);
        unfilter(s.filtered[s.current].data() + stride * static_cast<std::size_t>(s.used), rows, into, done);
        s.used += rows;
        done += rows;
    }
    if (rowsRead_ == height_) {
        finishStream();
    }
}
