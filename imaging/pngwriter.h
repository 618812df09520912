#pragma once

#include <QByteArray>
#include <QImage>

// How the rows of an RGBA image are filtered before compression. Pixel art (few colours,
// repeated exactly) compresses best unfiltered; photos and gradients best with the filter
// of least sum chosen row by row. Palette indexes are never filtered.
enum class PngFilters { Adaptive, None };

// The filtering that compresses a sample of rows first to first + count smaller.
PngFilters ChooseFilters(const QImage& image, int first, int count);

// Encodes an image of Format_RGBA8888 (as 8-bit RGBA, straight alpha) or Format_Indexed8
// (as 8-bit indexed, with its palette and a tRNS chunk for alpha) as a PNG file, exactly.
// Big images are filtered on every core. Other formats, and an empty palette, raise 5.
QByteArray EncodePng(const QImage& image, PngFilters filters);
