#pragma once

#include <QImage>
#include <QString>

#include <memory>
#include <vector>

class BitmapBands;
class Descriptor;
class PictureFile;
class PngDecoder;

// A sheet read from its file a band of rows at a time, top to bottom, so that a big sheet
// is never held whole: an uncompressed 24-bit bitmap's rows are read where they lie, a PNG
// that is neither indexed nor interlaced is decoded row by row. Other pictures (compressed
// bitmaps, indexed or interlaced PNG, the toolkit's formats) are decoded whole when opened
// and handed out in views. 53 for a missing file, 481 for no readable picture.
class SheetBands {
public:
    explicit SheetBands(const QString& path);
    // The rows of an uncompressed 24-bit bitmap of at most Limits::PictureSide a side, read
    // where they lie; null for any other file, or one that cannot be opened, whose failure
    // is then left for a whole load to report.
    static std::unique_ptr<SheetBands> OfPlainBitmap(const QString& path);
    ~SheetBands();
    SheetBands(const SheetBands&) = delete;
    SheetBands& operator=(const SheetBands&) = delete;

    QSize Size() const { return size_; }
    // True when the picture is held whole: its bands are then views into it.
    bool Whole() const { return !whole_.isNull(); }

    // Rows first to first + count - 1 (within the picture), at or below the rows of the last
    // band; rows between are passed over. BGR888 for bitmap rows, else Format_RGBA8888 or
    // Format_Indexed8 with the palette (as picture files give them). A file that turns out
    // broken or cut raises 481.
    QImage Rows(int first, int count);

private:
    struct PlainOnly {};
    SheetBands(const QString& path, PlainOnly);
    void open();
    QImage rows(int first, int count);
    QImage reusedBand(int count);

    QString path_;
    std::unique_ptr<Descriptor> file_;
    std::unique_ptr<BitmapBands> bitmap_;
    std::vector<unsigned char> bytes_;
    std::unique_ptr<PngDecoder> png_;
    QImage whole_;
    QSize size_;
    int next_ = 0;     // the first row past the last band
    int skipped_ = 0;  // the first row the decoder has not given
    QImage spare_[2];  // the last two decoded bands, taken again once their readers let go
    int last_ = 0;     // the slot of the band read last
};
