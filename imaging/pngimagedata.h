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
// Parts are cut at the same rows however the rows come in bands, so the file is the same
// whatever the bands.
class PngImageData {
public:
    // Takes bytes of the file, in order.
    using Sink = std::function<void(const char* data, std::size_t size)>;

    // Rows of width pixels of the format (RGBA8888 or Indexed8), filtered as told.
    PngImageData(int width, QImage::Format format, PngFilters filters);
    ~PngImageData();
    PngImageData(const PngImageData&) = delete;
    PngImageData& operator=(const PngImageData&) = delete;

    // Rows of a part for rows of width pixels: bands of a whole number of parts are compressed
    // where they are, the rest of a band is copied to wait for the next.
    static int PartRows(int width, QImage::Format format);

    // The chunks of the whole parts of band, the next rows of the picture; rows that do not
    // fill a part wait for the next band. Raises 7 when memory runs out.
    void Add(const QImage& band, const Sink& sink);
    // The chunks of the rows still waiting, and the last chunk: the stream's end and its
    // checksum.
    void Finish(const Sink& sink);

private:
    struct Part;
    // Rows first to first + count - 1 of an image; above is the row over the first, or null.
    struct Rows {
        const QImage* image;
        int first;
        int count;
        const uchar* above;
    };
    void compress(const Rows& rows, Part& part) const;
    void compressParts(const std::vector<Rows>& parts, const Sink& sink);

    // The parts of a round and their buffers, kept from band to band: memory new to the
    // process costs the kernel's clearing of every page, more than compressing noise.
    std::vector<Part> done_;

    std::size_t rowBytes_;
    int bpp_;
    bool adaptive_;
    int rowsPerPart_;
    bool started_ = false;
    std::uint32_t adler_ = 1;
    std::vector<uchar> lastRow_;  // the row above the waiting rows, for the filters
    QImage waiting_;              // rows of a part not yet full, at its top
    int waitingRows_ = 0;
};
