#include "sheets/tileindex.h"

#include "runtime/limits.h"
#include "runtime/runtimeerror.h"

#include <cstring>

namespace {
// FNV-1a over 8 bytes at a time: quick, and collisions only cost a comparison.
std::uint64_t hashRows(const QImage& tile, std::size_t rowBytes) {
    std::uint64_t hash = 1469598103934665603ull;
    for (int y = 0; y < tile.height(); ++y) {
        const uchar* row = tile.constScanLine(y);
        std::size_t x = 0;
        for (; x + 8 <= rowBytes; x += 8) {
            std::uint64_t word;
            std::memcpy(&word, row + x, 8);
            hash = (hash ^ word) * 1099511628211ull;
        }
        for (; x < rowBytes; ++x) {
            hash = (hash ^ row[x]) * 1099511628211ull;
        }
    }
    return hash ^ (hash >> 29);
}

// Where the flips move a point of the unit square's corners, as a 2x2 matrix on (x, y)
// about the tile's centre: the diagonal swap first, then the mirrors.
struct Turn {
    int xx, xy, yx, yy;
};

Turn turnOf(std::uint32_t flips) {
    Turn t = (flips & GidFlag::Diagonal) != 0 ? Turn{0, 1, 1, 0} : Turn{1, 0, 0, 1};
    if ((flips & GidFlag::Horizontal) != 0) {
        t.xx = -t.xx;
        t.xy = -t.xy;
    }
    if ((flips & GidFlag::Vertical) != 0) {
        t.yx = -t.yx;
        t.yy = -t.yy;
    }
    return t;
}

bool operator==(const Turn& a, const Turn& b) {
    return a.xx == b.xx && a.xy == b.xy && a.yx == b.yx && a.yy == b.yy;
}
}  // namespace

std::uint32_t CombinedFlips(std::uint32_t inner, std::uint32_t outer) {
    const Turn a = turnOf(outer);
    const Turn b = turnOf(inner);
    const Turn both{a.xx * b.xx + a.xy * b.yx, a.xx * b.xy + a.xy * b.yy, a.yx * b.xx + a.yy * b.yx,
                    a.yx * b.xy + a.yy * b.yy};
    for (std::uint32_t code = 0; code < 8; ++code) {
        if (turnOf(code << 29) == both) {
            return code << 29;
        }
    }
    return 0;  // unreachable: the eight turns are closed under composition
}

QImage OrientedTile(const QImage& tile, std::uint32_t flips) {
    const bool diagonal = (flips & GidFlag::Diagonal) != 0;
    const int width = diagonal ? tile.height() : tile.width();
    const int height = diagonal ? tile.width() : tile.height();
    QImage out(width, height, tile.format());
    if (out.isNull() && !tile.isNull()) {
        RaiseError(Err::OutOfMemory);
    }
    out.setColorTable(tile.colorTable());
    const int bpp = tile.depth() / 8;
    for (int y = 0; y < height; ++y) {
        uchar* to = out.scanLine(y);
        const int sy = (flips & GidFlag::Vertical) != 0 ? height - 1 - y : y;
        for (int x = 0; x < width; ++x) {
            const int sx = (flips & GidFlag::Horizontal) != 0 ? width - 1 - x : x;
            const uchar* from = diagonal ? tile.constScanLine(sx) + sy * bpp : tile.constScanLine(sy) + sx * bpp;
            std::memcpy(to + x * bpp, from, static_cast<std::size_t>(bpp));
        }
    }
    return out;
}

TileIndex::TileIndex(QSize tile, QImage::Format format, bool flips)
    : size_(tile), flips_(flips),
      rowBytes_(static_cast<std::size_t>(tile.width()) * (format == QImage::Format_Indexed8 ? 1 : 4)) {}

std::uint64_t TileIndex::Key(const QImage& tile) const { return hashRows(tile, rowBytes_); }

std::vector<uchar> TileIndex::packed(const QImage& tile) const {
    std::vector<uchar> bytes(rowBytes_ * static_cast<std::size_t>(size_.height()));
    for (int y = 0; y < size_.height(); ++y) {
        std::memcpy(bytes.data() + rowBytes_ * static_cast<std::size_t>(y), tile.constScanLine(y), rowBytes_);
    }
    return bytes;
}

TileIndex::Placement TileIndex::Find(const QImage& tile, std::uint64_t key, std::uint32_t allowed) const {
    const auto [first, last] = variants_.equal_range(key);
    Placement best;
    for (auto it = first; it != last; ++it) {
        bool same = (it->second.placement.flips & ~allowed) == 0;
        for (int y = 0; y < size_.height() && same; ++y) {
            same = std::memcmp(it->second.pixels.data() + rowBytes_ * static_cast<std::size_t>(y), tile.constScanLine(y),
                               rowBytes_) == 0;
        }
        // The lowest id wins, unflipped before flipped, whatever order the table keeps.
        const Placement found = it->second.placement;
        if (same && (best.id < 0 || found.id < best.id || (found.id == best.id && found.flips < best.flips))) {
            best = found;
        }
    }
    return best;
}

std::int32_t TileIndex::Add(const QImage& tile) {
    const auto id = static_cast<std::int32_t>(tiles_.size());
    QImage own = tile.copy();
    if (own.isNull() && !tile.isNull()) {
        RaiseError(Err::OutOfMemory);
    }
    tiles_.push_back(own);
    const bool square = size_.width() == size_.height();
    for (std::uint32_t code = 0; code < (flips_ ? 8u : 1u); ++code) {
        const std::uint32_t flips = code << 29;
        if ((flips & GidFlag::Diagonal) != 0 && !square) {
            continue;
        }
        const QImage variant = flips == 0 ? own : OrientedTile(own, flips);
        variants_.emplace(Key(variant), Variant{packed(variant), Placement{id, flips}});
    }
    return id;
}
