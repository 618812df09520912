#pragma once

#include "imaging/picturesink.h"
#include "imaging/pngwriter.h"

#include <QImage>
#include <QString>

#include <cstdint>

// ".bmp" or ".png".
QString TileSuffix(TileFormat format);

// Name of tile number n: NumberText(n) and the suffix.
QString TileFileName(std::int32_t number, TileFormat format);

// A tile-format image (Indexed8 or RGBA8888) as RGB32 for a 24-bit bitmap: alpha dropped.
QImage OpaqueRgb32(const QImage& image);

// Index of the first fully transparent palette entry; -1 when there is none.
int TransparentIndex(const QList<QRgb>& palette);

// Gives an indexed image a fully transparent entry where it has none and room for one
// (false when all 256 entries are taken by visible colours).
bool EnsureTransparentEntry(QImage& indexed);

// Writes an image in the format: PNG exactly (tile formats as they are, rows filtered as
// told), BMP as 24 bits, the part beyond the image up to width by height in the
// background colour.
void WriteTileImage(const QImage& image, int width, int height, TileFormat format, PngFilters filters,
                    const QString& path);
