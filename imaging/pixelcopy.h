#pragma once

#include <QImage>

// Copies the w by h block at (sx, sy) of from to (x, y) of to, which must lie inside both.
// Images are RGB32 or 24-bit BGR888, in any pairing; same formats copy whole rows.
void CopyPixels(const QImage& from, int sx, int sy, QImage& to, int x, int y, int w, int h);

// Premultiplied ARGB32 rows as straight RGBA8888 into to, of the same size, the pixels
// QImage::convertToFormat gives: rows of opaque and clear pixels are swizzled here (no
// division to do), a row with any other pixel is left to Qt, whose rounding it keeps.
void ToStraightRgba(const QImage& from, QImage& to);
// One such row of width pixels into out.
void ToStraightRgbaRow(const QRgb* in, uchar* out, int width);
