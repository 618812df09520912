#pragma once

#include <QImage>
#include <QString>

#include <memory>
#include <vector>

class PngDecoder;
class RowFeed;

// A picture file of any format the toolkit reads, recognised by its content: PNG through
// the exact PNG reader, Windows bitmaps through the project's own decoder, the rest through
// Qt's readers. Its image is Format_Indexed8 (a picture with a palette) or
// Format_RGBA8888 (straight alpha). 53 for a missing file, 481 for no readable picture.
class PictureFile {
public:
    // Opens the file; every format but PNG is read whole here, a PNG only up to its header.
    explicit PictureFile(const QString& path);
    ~PictureFile();

    // The image, sized; its pixels are there once Decode returned.
    const QImage& Image() const;
    // True when Decode tells its feed of rows while it goes (a big PNG), so its first rows
    // may be used before the last are decoded.
    bool DecodesRowByRow() const;
    void Decode(RowFeed* feed = nullptr);

private:
    QString path_;
    std::vector<unsigned char> bytes_;
    std::unique_ptr<PngDecoder> png_;
    QImage image_;
};

// The whole picture of a file, as PictureFile reads it.
QImage LoadPicture(const QString& path);

// The image in one of the two formats above, every pixel kept.
QImage InTileFormat(const QImage& image);
