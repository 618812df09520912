#pragma once

#include <QImage>
#include <QString>

#include <memory>
#include <vector>

class PngDecoder;

// A picture file of any format the toolkit reads, recognised by its content: PNG through
// the exact PNG reader, Windows bitmaps through the project's own decoder, the rest through
// Qt's readers. Its image is Format_Indexed8 (a picture with a palette) or
// Format_RGBA8888 (straight alpha). 53 for a missing file, 481 for no readable picture.
class PictureFile {
public:
    // Opens the file; every format but PNG is read whole here, a PNG only up to its header.
    explicit PictureFile(const QString& path);
    ~PictureFile();

    // The image, once Decode returned.
    const QImage& Image() const;
    void Decode();
    // Decode's checks without the pixels (a PNG's image data is inflated, not unfiltered).
    void Check();
    // The picture's size, known once the file is opened.
    QSize Size() const;
    // The file's bytes where it is a PNG; other formats are read whole on opening and not kept.
    const std::vector<unsigned char>& PngBytes() const { return bytes_; }

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
