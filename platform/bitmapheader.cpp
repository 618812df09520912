#include "platform/bitmapheader.h"

namespace {
std::uint32_t Get32(const QByteArray& b, int at) {
    return static_cast<std::uint8_t>(b[at]) | static_cast<std::uint8_t>(b[at + 1]) << 8 |
           static_cast<std::uint8_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[at + 3])) << 24;
}
std::uint16_t Get16(const QByteArray& b, int at) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[at]) | static_cast<std::uint8_t>(b[at + 1]) << 8);
}

constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_BITFIELDS = 3;
constexpr std::uint32_t BI_ALPHABITFIELDS = 6;
}  // namespace

bool BitmapHeader::Uncompressed() const {
    const bool plainBits = bitCount == 1 || bitCount == 2 || bitCount == 4 || bitCount == 8 || bitCount == 16 ||
                           bitCount == 24 || bitCount == 32;
    if (!plainBits) {
        return false;
    }
    // The OS/2 headers of 12 bytes know no compression at all.
    return headerSize == 12 || compression == BI_RGB || compression == BI_BITFIELDS ||
           compression == BI_ALPHABITFIELDS;
}

std::int64_t BitmapHeader::RowBytes() const {
    const std::int64_t w = width < 0 ? -static_cast<std::int64_t>(width) : width;
    return (w * bitCount + 31) / 32 * 4;
}

std::optional<BitmapHeader> ParseBitmapHeader(const QByteArray& head) {
    if (head.size() < 26 || head[0] != 'B' || head[1] != 'M') {
        return std::nullopt;
    }
    BitmapHeader h;
    h.dataOffset = Get32(head, 10);
    h.headerSize = Get32(head, 14);
    if (h.headerSize == 12) {
        h.width = Get16(head, 18);
        h.height = Get16(head, 20);
        h.planes = Get16(head, 22);
        h.bitCount = Get16(head, 24);
        return h;
    }
    if (h.headerSize < 16 || head.size() < 30) {
        return std::nullopt;
    }
    h.width = static_cast<std::int32_t>(Get32(head, 18));
    h.height = static_cast<std::int32_t>(Get32(head, 22));
    h.planes = Get16(head, 26);
    h.bitCount = Get16(head, 28);
    h.compression = head.size() >= 34 && h.headerSize >= 20 ? Get32(head, 30) : 0;
    return h;
}
