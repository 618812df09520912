#pragma once

#include <QImage>
#include <QString>

#include <cstdint>
#include <vector>

// Compressed data may stand for a picture far bigger than the file; real files stay well
// below this ratio, while a tiny file claiming a huge size does not. So no picture gets more
// pixels than its file size allows, checked before anything is allocated for it.
std::uint64_t MostPixelsFor(std::int64_t fileSize);

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
