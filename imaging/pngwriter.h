#pragma once

#include "imaging/pngfilter.h"

#include <QByteArray>
#include <QImage>

// Encodes an image of Format_RGBA8888 (as 8-bit RGBA, straight alpha) or Format_Indexed8
// (as 8-bit indexed, with its palette and a tRNS chunk for alpha) as a PNG file, exactly.
// A small image (a tile) is compressed whole at zlib's default level, for the smallest file;
// a big one in parts on every core (PngImageData). Other formats, and an empty palette, raise 5.
QByteArray EncodePng(const QImage& image, PngFilters filters);
