#pragma once

#include <QByteArray>
#include <QList>
#include <QRgb>

#include <cstddef>

// Appends one PNG chunk: its length, type, data and CRC.
void AppendPngChunk(QByteArray& out, const char* type, const void* data, std::size_t size);

// A PNG file's signature and the chunks before its image data: IHDR as 8-bit RGBA, or as
// 8-bit indexed with PLTE and, where an entry is not opaque, tRNS.
QByteArray PngHead(int width, int height, const QList<QRgb>& palette, bool indexed);

// The IEND chunk that closes every PNG file.
QByteArray PngTail();
