#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <memory>

// True when the bytes start with the PNG signature.
bool IsPng(const unsigned char* bytes, std::size_t size);

struct spng_ctx;
class PngRows;

// A PNG file held in memory, opened: its header read, its pixels decoded whole by Decode()
// or, where the picture allows (8-bit RGBA output of a picture that is not interlaced), a
// band of rows at a time by ReadRows, so a big picture need not be held whole.
class PngDecoder {
public:
    // Raises 481 for a broken header or one larger than maxPixels.
    PngDecoder(const unsigned char* bytes, std::size_t size, std::uint64_t maxPixels);
    ~PngDecoder();
    PngDecoder(const PngDecoder&) = delete;
    PngDecoder& operator=(const PngDecoder&) = delete;

    QSize Size() const { return size_; }
    // The image Decode filled (an indexed picture with its palette).
    const QImage& Image() const { return image_; }
    // Fills the image. Raises 481 for broken data, 7 when the image cannot be allocated.
    void Decode();
    // Decode's checks, the pixels not kept: for 8-bit RGB and RGBA not interlaced, the data
    // inflated but not unfiltered. Raises 481 for broken data.
    void Check();

    // True when ReadRows may be used instead of Decode.
    bool DecodesRowByRow() const { return rowByRow_; }
    // The next count rows, as RGBA8888, into the first rows of into (of the picture's width).
    // Raises 481 for broken data.
    void ReadRows(QImage& into, int count);

private:
    spng_ctx* ctx_;
    // The project's own decoder, where the picture is 8-bit RGB or RGBA and not interlaced.
    std::unique_ptr<PngRows> rows_;
    QSize size_;
    QImage image_;
    int rowsRead_ = 0;
    bool indexed_ = false;
    bool rowByRow_ = false;
};

// Decodes a PNG file held in memory, exactly: an indexed PNG gives Format_Indexed8 with its
// palette (alpha from its tRNS chunk) and indexes unchanged; every other kind gives
// Format_RGBA8888 with straight alpha (16-bit channels keep their high byte). A file that
// is broken, cut short or larger than maxPixels raises 481 "Invalid picture".
QImage DecodePng(const unsigned char* bytes, std::size_t size, std::uint64_t maxPixels);
