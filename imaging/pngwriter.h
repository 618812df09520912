#pragma once

#include <QByteArray>
#include <QImage>

// Encodes an image of Format_RGBA8888 (as 8-bit RGBA, straight alpha) or Format_Indexed8
// (as 8-bit indexed, with its palette and a tRNS chunk for alpha) as a PNG file, exactly.
// Big images are filtered on every core. Other formats, and an empty palette, raise 5.
QByteArray EncodePng(const QImage& image);
