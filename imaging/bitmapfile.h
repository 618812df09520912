#pragma once

#include "imaging/dibdecoder.h"

#include <QImage>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

// Compressed data may stand for a picture far bigger than the file; real files stay well
// below this ratio, while a tiny file claiming a huge size does not. So no picture gets more
// pixels than its file size allows, checked before anything is allocated for it.
std::uint64_t MostPixelsFor(std::int64_t fileSize);

// The rows of an uncompressed 24-bit bitmap read where they lie, a band at a time, so the
// picture is never held whole.
class BitmapBands {
public:
    // Looks at the open file's header: Plain() tells whether its rows can be read so. A
    // bitmap whose header does not hold together raises 481. The file stays the caller's.
    BitmapBands(int fd, std::int64_t fileSize);
    bool Plain() const { return plain_; }
    QSize Size() const { return {rows_.width, rows_.height}; }
    // Rows first to first + count - 1 (row 0 at the top) into the first rows of a BGR888
    // image of the picture's width. A file cut short raises 481.
    void Read(int first, int count, QImage& into) const;

private:
    int fd_;
    DibRows rows_;
    bool plain_ = false;
};

// Reads a picture file. 53 "File not found" for a missing file, 481 "Invalid picture"
// for one that is no readable picture.
QImage LoadBitmapFile(const QString& path);

// The bytes of the file SaveBitmapFile writes, for files small enough to be held whole.
void EncodeBitmapFile(const QImage& image, int width, int height, std::vector<unsigned char>& bytes);

// Writes the top-left width by height pixels of an image as a 24-bit bottom-up
// Windows bitmap (pixels outside the image are written as the background). The file is
// written beside its final name and renamed over it, so a failed save leaves the old file
// or none, never a truncated one. Failures raise the run-time error of the cause.
void SaveBitmapFile(const QImage& image, int width, int height, const QString& path);

// The bytes in front of the rows of a 24-bit bitmap SaveBitmapFile writes.
constexpr std::size_t BitmapHeaderBytes = 54;

// The header of such a width by height bitmap; raises 380 for rows past what its 32-bit sizes
// can hold.
void EncodeBitmapHeader(int width, int height, unsigned char* header);

// Writes a band of such a bitmap's rows where the open file holds them, whatever was written
// before: the band holds the picture's rows from top on (RGB32 or BGR888, the picture's
// width). buffer is reused from call to call. Raises the failure of the write.
void WriteBitmapRows(int fd, const QImage& band, int width, int height, int top, std::vector<unsigned char>& buffer);
