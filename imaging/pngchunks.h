#pragma once

#include <QByteArray>
#include <QList>
#include <QRgb>

#include <cstddef>
#include <cstdint>

// Writes v at p as PNG numbers are held: 4 bytes, most significant first.
void PutBig32(unsigned char* p, std::uint32_t v);

// Appends one PNG chunk: its length, type, data and CRC.
void AppendPngChunk(QByteArray& out, const char* type, const void* data, std::size_t size);

// A PNG file's signature and the chunks before its image data: IHDR as 8-bit RGBA, or as
// 8-bit indexed with PLTE and, where an entry is not opaque, tRNS.
QByteArray PngHead(int width, int height, const QList<QRgb>& palette, bool indexed);

// The IEND chunk that closes every PNG file.
QByteArray PngTail();

// Whether a PNG file's bytes may stand for the picture our decoder made of it, in any other
// reader: sound chunks and checksums, 8-bit samples, not interlaced, of that size, and no
// chunk that makes a reader change colours (gamma, primaries, an ICC profile).
bool PlainPng(const unsigned char* data, std::size_t size, int width, int height);
