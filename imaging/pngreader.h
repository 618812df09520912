#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>

// True when the bytes start with the PNG signature.
bool IsPng(const unsigned char* bytes, std::size_t size);

class RowFeed;
struct spng_ctx;

// A PNG file held in memory, opened: its header read and its image allocated, its pixels
// decoded by Decode(). Decoding goes row by row where it can (8-bit RGBA output of a
// picture that is not interlaced), so others may cut the first rows meanwhile.
class PngDecoder {
public:
    // Raises 481 for a broken header or one larger than maxPixels, 7 when the image
    // cannot be allocated.
    PngDecoder(const unsigned char* bytes, std::size_t size, std::uint64_t maxPixels);
    ~PngDecoder();
    PngDecoder(const PngDecoder&) = delete;
    PngDecoder& operator=(const PngDecoder&) = delete;

    // The image the pixels go to (its palette is set by Decode for an indexed picture).
    const QImage& Image() const { return image_; }
    // True when Decode tells its feed of rows while it goes, not only at the end.
    bool DecodesRowByRow() const { return rowByRow_; }
    // Fills the image, telling the feed as rows arrive. Raises 481 for broken data.
    void Decode(RowFeed* feed = nullptr);

private:
    spng_ctx* ctx_;
    QImage image_;
    uchar* bits_ = nullptr;  // taken while the image is not shared, so writes never copy it
    bool indexed_ = false;
    bool rowByRow_ = false;
};

// Decodes a PNG file held in memory, exactly: an indexed PNG gives Format_Indexed8 with its
// palette (alpha from its tRNS chunk) and indexes unchanged; every other kind gives
// Format_RGBA8888 with straight alpha (16-bit channels keep their high byte). A file that
// is broken, cut short or larger than maxPixels raises 481 "Invalid picture".
QImage DecodePng(const unsigned char* bytes, std::size_t size, std::uint64_t maxPixels);
