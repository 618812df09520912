#pragma once

#include <QImage>

#include <cstddef>
#include <memory>
#include <vector>

// The pixels of a PNG of 8-bit RGB or RGBA, not interlaced, decoded without libspng: the
// image data is inflated by libdeflate whole, or streamed by ISA-L's inflate a band at a time
// where the picture is big, and unfiltered with vector instructions. Gives RGBA8888 (RGB
// opaque). The chunks before the image data are libspng's to check; these are the IDAT chunks
// and the zlib stream, which must hold exactly the picture's rows and end with its sum.
class PngRows {
public:
    // The file's bytes (kept by the caller); channels 3 or 4.
    PngRows(const unsigned char* bytes, std::size_t size, int width, int height, int channels);
    ~PngRows();
    PngRows(const PngRows&) = delete;
    PngRows& operator=(const PngRows&) = delete;

    // Every row into image (RGBA8888, the picture's size). Raises 481 for broken data.
    void DecodeAll(QImage& image);
    // The next count rows into the first rows of into. Raises 481 for broken data.
    void Read(QImage& into, int count);
    // What DecodeAll checks (the stream, its rows' filters, its sum), nothing unfiltered:
    // a fraction of its time. Raises 481 for broken data.
    void Check();

private:
    struct Stream;
    struct Span {
        const unsigned char* data;
        std::size_t size;
    };
    void unfilter(const unsigned char* filtered, int count, QImage& into, int firstRow);
    const unsigned char* inflateWhole(std::size_t total);
    void startStream();
    std::size_t inflateSome(unsigned char* out, std::size_t size);
    void inflateRows(unsigned char* out, std::size_t size);
    void finishStream();

    std::vector<Span> idat_;
    bool broken_ = false;
    int width_;
    int height_;
    int channels_;
    std::size_t rowBytes_;
    int rowsRead_ = 0;
    std::vector<unsigned char> prev_;  // the last row unfiltered, in the file's channels
    std::vector<unsigned char> row_;
    std::unique_ptr<Stream> stream_;
};
