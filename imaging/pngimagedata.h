#pragma once

#include "imaging/pngfilter.h"

#include <QImage>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class HelperQueue;

// The image data of a big PNG (its IDAT chunks), made a band of rows at a time so that the
// picture need not be held whole. Rows are filtered and compressed in parts of about a MiB
// on helper threads, one a core, while the caller makes the next band: each part is deflated
// on its own by ISA-L's igzip and closed by a full flush, so the parts join into one zlib
// stream. igzip is many times quicker than zlib, at a size near zlib's quickest level; small
// pictures (tiles) are better served by EncodePng. Parts are cut at the same rows however
// the rows come in bands, so the file is the same whatever the bands.
class PngImageData {
public:
    // Takes bytes of the file, in order.
    using Sink = std::function<void(const char* data, std::size_t size)>;

    // Rows of width pixels of the format (RGBA8888 or Indexed8), filtered as told. Bands of
    // RGBA8888 may come premultiplied (ARGB32_Premultiplied) instead, all of them.
    PngImageData(int width, QImage::Format format, PngFilters filters);
    ~PngImageData();
    PngImageData(const PngImageData&) = delete;
    PngImageData& operator=(const PngImageData&) = delete;

    // Rows of a part for rows of width pixels: bands of a whole number of parts are compressed
    // where they are, the rest of a band is copied to wait for the next.
    static int PartRows(int width, QImage::Format format);

    // Takes band, the next rows of the picture, to be compressed on the helpers, whose parts
    // sink takes in order as they are done, on the helper that finished the part or here.
    // sink is the same for every call, and stays until Finish. The band is held until its
    // parts are compressed: drawn into meanwhile, a QImage is copied, and the pixels of a view
    // must stay untouched until Finish. Waits while a few parts a helper are not yet written;
    // raises 7 when memory runs out, and what sink raised.
    void Add(const QImage& band, const Sink& sink);
    // The chunks of every part still to come, and the last chunk: the stream's end and its
    // checksum.
    void Finish(const Sink& sink);

private:
    struct Part;
    void post(QImage image, int first, int count, const uchar* above);
    // The row above the next part's first, or null over the picture's first row.
    const uchar* lastRow() const;
    void compress(Part& part) const;
    // Hands the parts done to the sink, in order, unless another thread does.
    void writeDone();
    // Waits until the parts below mark went out; raises the first failure.
    void waitFor(std::uint64_t mark);

    std::size_t rowBytes_;
    int bpp_;
    bool adaptive_;
    int rowsPerPart_;
    QImage::Format format_ = QImage::Format_Invalid;  // of the bands
    std::uint64_t posted_ = 0;   // parts handed to the helpers so far
    std::uint64_t written_ = 0;  // parts whose chunks went out (or failed), under lock_
    std::uint32_t adler_ = 1;    // of the parts written, by the writing thread
    std::vector<uchar> lastRow_;  // the last row given, above the next part's first
    QImage waiting_;              // rows of a part not yet full, at its top
    int waitingRows_ = 0;

    Sink sink_;
    std::mutex lock_;
    std::condition_variable done_;
    bool writing_ = false;         // a thread is handing parts to the sink
    std::exception_ptr failure_;  // of a part or the sink: nothing after it is written
    std::deque<std::unique_ptr<Part>> parts_;  // posted and not yet written, in order
    std::vector<std::unique_ptr<Part>> spare_;  // written parts, whose buffers serve again
    std::unique_ptr<HelperQueue> helpers_;     // last: stopped before the parts go
};
