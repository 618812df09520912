#pragma once

#include <QByteArray>

#include <cstdint>
#include <optional>

// The fields of a Windows bitmap's headers that decide how, and whether, to decode it.
struct BitmapHeader {
    std::uint32_t dataOffset = 0;
    std::uint32_t headerSize = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;  // negative for a top-down bitmap
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;

    // Rows run from the top of the image down.
    bool TopDown() const { return height < 0; }
    std::int64_t Rows() const { return height < 0 ? -static_cast<std::int64_t>(height) : height; }
    // Pixel rows stored as they are, not run-length or otherwise encoded.
    bool Uncompressed() const;
    // Bytes of one stored row, padded to four bytes.
    std::int64_t RowBytes() const;
};

// Reads the headers from the first bytes of a file; nothing when they are no bitmap's.
std::optional<BitmapHeader> ParseBitmapHeader(const QByteArray& head);
