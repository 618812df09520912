#include "imaging/dibdecoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <cstdint>
#include <vector>

namespace {
constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_RLE8 = 1;
constexpr std::uint32_t BI_RLE4 = 2;
constexpr std::uint32_t BI_BITFIELDS = 3;
constexpr std::uint32_t BI_ALPHABITFIELDS = 6;
constexpr std::size_t FileHeader = 14;

std::uint32_t get16(const unsigned char* p) { return p[0] | (std::uint32_t{p[1]} << 8); }
std::uint32_t get32(const unsigned char* p) { return get16(p) | (get16(p + 2) << 16); }

// One colour channel of a bit-field pixel, scaled to the full 0..255 range.
class Channel {
public:
    explicit Channel(std::uint32_t mask) : mask_(mask) {
        if (mask != 0) {
            shift_ = std::countr_zero(mask);
            max_ = mask >> shift_;
        }
    }
    std::uint32_t Of(std::uint32_t pixel) const {
        if (max_ == 0) {
            return 0;
        }
        const std::uint64_t v = (pixel & mask_) >> shift_;
        return static_cast<std::uint32_t>((v * 255 + max_ / 2) / max_);
    }

private:
    std::uint32_t mask_;
    int shift_ = 0;
    std::uint64_t max_ = 0;
};

struct Header {
    std::uint32_t infoSize = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;  // negative: rows stored top row first
    std::uint32_t bits = 0;
    std::uint32_t compression = BI_RGB;
    std::uint32_t colorsUsed = 0;
    std::uint32_t masks[3] = {0, 0, 0};
    std::size_t afterHeader = 0;  // where the palette (or the masks after an info header) start
};

bool readHeader(const unsigned char* b, std::size_t size, std::uint64_t maxPixels, Header& h) {
    if (size < FileHeader + 16 || b[0] != 'B' || b[1] != 'M') {
        return false;
    }
    const unsigned char* info = b + FileHeader;
    h.infoSize = get32(info);
    // Core (12), OS/2 2.x (16 to 64), info (40), V2 to V5 (52, 56, 108, 124).
    const bool knownSize = h.infoSize == 12 || (h.infoSize >= 16 && h.infoSize <= 64) || h.infoSize == 108 ||
                           h.infoSize == 124;
    if (!knownSize || FileHeader + h.infoSize > size) {
        return false;
    }
    std::uint32_t planes = 0;
    if (h.infoSize == 12) {
        h.width = get16(info + 4);
        h.height = get16(info + 6);
        planes = get16(info + 8);
        h.bits = get16(info + 10);
    } else {
        h.width = static_cast<std::int32_t>(get32(info + 4));
        h.height = static_cast<std::int32_t>(get32(info + 8));
        planes = get16(info + 12);
        h.bits = get16(info + 14);
        h.compression = h.infoSize >= 20 ? get32(info + 16) : BI_RGB;
        h.colorsUsed = h.infoSize >= 36 ? get32(info + 32) : 0;
    }
    h.afterHeader = FileHeader + h.infoSize;
    // OS/2 2.x headers use 3 and 4 for their own compressions, which no Windows program reads.
    const bool os2 = h.infoSize != 12 && h.infoSize != 40 && h.infoSize != 52 && h.infoSize != 56 && h.infoSize <= 64;
    if (os2 && h.compression != BI_RGB && h.compression != BI_RLE8 && h.compression != BI_RLE4) {
        return false;
    }
    if (planes != 1 || h.width <= 0 || h.height == 0 || h.height == INT32_MIN) {
        return false;
    }
    const std::uint64_t pixels = static_cast<std::uint64_t>(h.width) * static_cast<std::uint64_t>(h.height < 0 ? -h.height : h.height);
    if (pixels > maxPixels) {
        return false;
    }
    switch (h.compression) {
    case BI_RGB:
        if (h.bits != 1 && h.bits != 2 && h.bits != 4 && h.bits != 8 && h.bits != 16 && h.bits != 24 && h.bits != 32) {
            return false;
        }
        if (h.bits == 16) {
            h.masks[0] = 0x7C00, h.masks[1] = 0x03E0, h.masks[2] = 0x001F;
        } else if (h.bits == 32) {
            h.masks[0] = 0xFF0000, h.masks[1] = 0xFF00, h.masks[2] = 0xFF;
        }
        return true;
    case BI_RLE8:
    case BI_RLE4:
        // Compressed rows can only run bottom-up.
        return h.bits == (h.compression == BI_RLE8 ? 8u : 4u) && h.height > 0;
    case BI_BITFIELDS:
    case BI_ALPHABITFIELDS: {
        if (h.bits != 16 && h.bits != 32) {
            return false;
        }
        // The masks are part of a V2+ header, or follow a plain info header.
        const std::size_t at = h.infoSize >= 52 ? FileHeader + 40 : h.afterHeader;
        if (h.infoSize < 40 || at + 12 > size) {
            return false;
        }
        for (int i = 0; i < 3; ++i) {
            h.masks[i] = get32(b + at + 4 * i);
        }
        if (h.infoSize == 40) {
            h.afterHeader += h.compression == BI_ALPHABITFIELDS ? 16 : 12;
        }
        return true;
    }
    default: return false;
    }
}

// Decodes the run-length data into palette indexes, row 0 being the bottom row. False when
// the data ends before its end-of-bitmap code and before the last row is done.
bool decodeRle(const unsigned char* data, std::size_t size, bool four, std::int64_t width, std::int64_t height,
               std::vector<std::uint8_t>& indexes) {
    std::size_t at = 0;
    std::int64_t x = 0;
    std::int64_t y = 0;
    auto put = [&](std::uint8_t index) {
        if (x < width && y < height) {
            indexes[static_cast<std::size_t>(y * width + x)] = index;
        }
        ++x;
    };
    while (y < height) {
        if (at + 2 > size) {
            return false;
        }
        const std::uint32_t count = data[at];
        const std::uint32_t value = data[at + 1];
        at += 2;
        if (count > 0) {
            for (std::uint32_t i = 0; i < count; ++i) {
                put(four ? static_cast<std::uint8_t>(i % 2 == 0 ? value >> 4 : value & 0x0F) : static_cast<std::uint8_t>(value));
            }
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++y;
        } else if (value == 1) {  // end of bitmap
            return true;
        } else if (value == 2) {  // move right and up
            if (at + 2 > size) {
                return false;
            }
            x += data[at];
            y += data[at + 1];
            at += 2;
        } else {  // value pixels given one by one, padded to a whole word
            const std::size_t bytes = four ? (value + 1) / 2 : value;
            if (at + bytes > size) {
                return false;
            }
            for (std::uint32_t i = 0; i < value; ++i) {
                const std::uint8_t byte = data[at + (four ? i / 2 : i)];
                put(four ? static_cast<std::uint8_t>(i % 2 == 0 ? byte >> 4 : byte & 0x0F) : byte);
            }
            at += bytes + (bytes & 1);
        }
    }
    return true;
}
}  // namespace

namespace {
// What a file's headers say about its pixel data, checked against the file's size.
struct Plan {
    Header h;
    std::vector<QRgb> palette;
    std::size_t dataStart = 0;
    std::int64_t rows = 0;
    std::uint64_t rowBytes = 0;
    bool rle = false;
};

// Everything that can be known before pixels are allocated. Reads no byte past
// DibHeaderBytes, whatever size the file has.
bool plan(const unsigned char* b, std::size_t size, std::uint64_t maxPixels, Plan& p) {
    Header& h = p.h;
    if (!readHeader(b, size, maxPixels, h)) {
        return false;
    }
    p.rows = h.height > 0 ? h.height : -h.height;
    p.dataStart = h.afterHeader;
    if (h.bits <= 8) {
        const std::size_t most = std::size_t{1} << h.bits;
        const std::size_t count = h.colorsUsed > 0 && h.colorsUsed < most ? h.colorsUsed : most;
        const std::size_t entry = h.infoSize == 12 ? 3 : 4;
        // A palette that claims more entries than the depth can use still takes its room.
        const std::size_t stored = h.colorsUsed > most ? h.colorsUsed : count;
        if (h.afterHeader + count * entry > size) {
            return false;
        }
        p.palette.resize(most, qRgb(0, 0, 0));  // indexes past the palette show black
        for (std::size_t i = 0; i < count; ++i) {
            const unsigned char* c = b + h.afterHeader + i * entry;
            p.palette[i] = qRgb(c[2], c[1], c[0]);
        }
        p.dataStart = h.afterHeader + std::min<std::uint64_t>(stored * entry, size - h.afterHeader);
    }
    // The pixel data starts where the file header says, unless that points into the headers.
    const std::size_t offset = get32(b + 10);
    if (offset >= p.dataStart) {
        p.dataStart = offset;
    }
    if (p.dataStart > size) {
        return false;
    }
    p.rle = h.compression == BI_RLE8 || h.compression == BI_RLE4;
    p.rowBytes = (static_cast<std::uint64_t>(h.width) * h.bits + 31) / 32 * 4;
    // The last row may come without its padding; every pixel must be there, and that is
    // known before anything is allocated for them.
    const std::uint64_t lastRow = (static_cast<std::uint64_t>(h.width) * h.bits + 7) / 8;
    return p.rle || p.dataStart + p.rowBytes * static_cast<std::uint64_t>(p.rows - 1) + lastRow <= size;
}
}  // namespace

bool DibHeaderFits(const unsigned char* head, std::size_t fileSize, std::uint64_t maxPixels) {
    Plan p;
    return plan(head, fileSize, maxPixels, p);
}

bool PlainDibRows(const unsigned char* head, std::size_t fileSize, std::uint64_t maxPixels, DibRows& rows) {
    Plan p;
    if (!plan(head, fileSize, maxPixels, p) || p.h.bits != 24 || p.h.compression != BI_RGB) {
        return false;
    }
    rows = DibRows{static_cast<int>(p.h.width), static_cast<int>(p.rows), p.h.height > 0, p.dataStart,
                   static_cast<std::size_t>(p.rowBytes)};
    return true;
}

QImage DecodeDib(const unsigned char* b, std::size_t size, QImage (*newImage)(int width, int height, QImage::Format format),
                 std::uint64_t maxPixels) {
    Plan p;
    if (!plan(b, size, maxPixels, p)) {
        return QImage();
    }
    const Header& h = p.h;
    const bool bottomUp = h.height > 0;
    const std::int64_t rows = p.rows;
    const std::int64_t width = h.width;
    const std::vector<QRgb>& palette = p.palette;
    const std::size_t dataStart = p.dataStart;
    const bool rle = p.rle;
    const std::uint64_t rowBytes = p.rowBytes;

    const bool keepBytes = h.bits == 24 && !rle;
    const QImage::Format format = keepBytes ? QImage::Format_BGR888 : QImage::Format_RGB32;
    QImage image = newImage != nullptr ? newImage(static_cast<int>(width), static_cast<int>(rows), format)
                                       : QImage(static_cast<int>(width), static_cast<int>(rows), format);
    if (image.isNull()) {
        throw std::bad_alloc();
    }
    if (image.format() != format) {
        return QImage();
    }
    // One detach for the whole image: scanLine() checks for a shared image on every row.
    uchar* const pixels = image.bits();
    const qsizetype stride = image.bytesPerLine();
    auto outRow = [&](std::int64_t fileRow) {
        return reinterpret_cast<QRgb*>(pixels + stride * (bottomUp ? rows - 1 - fileRow : fileRow));
    };
    if (keepBytes) {
        for (std::int64_t y = 0; y < rows; ++y) {
            std::memcpy(outRow(y), b + dataStart + rowBytes * static_cast<std::uint64_t>(y), static_cast<std::size_t>(width) * 3);
        }
        return image;
    }

    if (rle) {
        std::vector<std::uint8_t> indexes(static_cast<std::size_t>(width * rows), 0);
        if (!decodeRle(b + dataStart, size - dataStart, h.compression == BI_RLE4, width, rows, indexes)) {
            return QImage();
        }
        for (std::int64_t y = 0; y < rows; ++y) {
            QRgb* out = outRow(y);
            const std::uint8_t* in = indexes.data() + y * width;
            for (std::int64_t x = 0; x < width; ++x) {
                out[x] = palette[in[x]];
            }
        }
        return image;
    }

    const Channel red(h.masks[0]);
    const Channel green(h.masks[1]);
    const Channel blue(h.masks[2]);
    const bool plain32 = h.bits == 32 && h.masks[0] == 0xFF0000 && h.masks[1] == 0xFF00 && h.masks[2] == 0xFF;
    for (std::int64_t y = 0; y < rows; ++y) {
        const unsigned char* in = b + dataStart + rowBytes * static_cast<std::uint64_t>(y);
        QRgb* out = outRow(y);
        if (plain32) {
            for (std::int64_t x = 0; x < width; ++x, in += 4) {
                out[x] = 0xFF000000u | (std::uint32_t{in[2]} << 16) | (std::uint32_t{in[1]} << 8) | in[0];
            }
        } else if (h.bits == 16 || h.bits == 32) {
            for (std::int64_t x = 0; x < width; ++x) {
                const std::uint32_t px = h.bits == 16 ? get16(in + 2 * x) : get32(in + 4 * x);
                out[x] = qRgb(static_cast<int>(red.Of(px)), static_cast<int>(green.Of(px)), static_cast<int>(blue.Of(px)));
            }
        } else {
            const std::uint32_t perByte = 8 / h.bits;
            const std::uint32_t mask = (1u << h.bits) - 1;
            for (std::int64_t x = 0; x < width; ++x) {
                const std::uint32_t byte = in[x / perByte];
                const std::uint32_t shift = 8 - h.bits * (static_cast<std::uint32_t>(x % perByte) + 1);
                out[x] = palette[(byte >> shift) & mask];
            }
        }
    }
    return image;
}
