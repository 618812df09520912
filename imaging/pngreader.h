#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>

// True when the bytes start with the PNG signature.
bool IsPng(const unsigned char* bytes, std::size_t size);

// Decodes a PNG file held in memory, exactly: an indexed PNG gives Format_Indexed8 with its
// palette (alpha from its tRNS chunk) and indexes unchanged; every other kind gives
// Format_RGBA8888 with straight alpha (16-bit channels keep their high byte). A file that
// is broken, cut short or larger than maxPixels raises 481 "Invalid picture".
QImage DecodePng(const unsigned char* bytes, std::size_t size, std::uint64_t maxPixels);
