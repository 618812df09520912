#pragma once

#include "imaging/pngfilter.h"

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// The image data of a big PNG (its IDAT chunks), made a band of rows at a time so that the
// picture need not be held whole. Rows are filtered and compressed on every core in parts of
// about a MiB: each part is deflated on its own by ISA-L's igzip and closed by a full flush,
// so the parts join into one zlib stream. igzip is many times quicker than zlib, at a size
// near zlib's quickest level; small pictures (tiles) are better served by EncodePng.
class PngImageData {
public:
    // Takes bytes of the file, in order.
    using Sink = std::function<void(const char* data, std::size_t size)>;

    // Rows of width pixels of the format (RGBA8888 or Indexed8), filtered as told.
    PngImageData(int width, QImage::Format format, PngFilters filters);

    // The chunks of all rows of band, the next rows of the picture. Raises 7 when memory
    // runs out.
    void Add(const QImage& band, const Sink& sink);
    // The last chunk: the stream's end and its checksum.
    void Finish(const Sink& sink);

private:
    struct Part;
    void compress(const QImage& band, int first, int count, Part& part) const;

    std::size_t rowBytes_;
    int bpp_;
    bool adaptive_;
    bool started_ = false;
    std::uint32_t adler_ = 1;
    std::vector<uchar> lastRow_;  // the row above the next band, for the filters
};
