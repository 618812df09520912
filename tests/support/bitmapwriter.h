#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

// Windows bitmaps written byte by byte, so tests can feed the loader every depth and layout
// without relying on the code under test.
struct BitmapLayout {
    int bitCount = 24;      // 1, 4, 8, 16 (5-5-5), 24 or 32
    bool topDown = false;
    bool rle8 = false;      // 8 bits per pixel, run-length encoded
};

// A test picture: for 1, 4 and 8 bits, palette indexes; otherwise colours that the depth
// holds exactly.
QImage PatternImage(int width, int height, const BitmapLayout& layout);

// The bitmap file of an image made by PatternImage with the same layout.
QByteArray EncodeBitmap(const QImage& image, const BitmapLayout& layout);

// Writes a pattern bitmap of the layout to the path; gives the pattern as RGB32.
QImage WritePatternBitmap(const QString& path, int width, int height, const BitmapLayout& layout = {});

// The image as the conversions see it: RGB32.
QImage AsRgb32(const QImage& image);
