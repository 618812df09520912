#pragma once

#include "runtime/limits.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <unordered_map>
#include <vector>

// The tile as a map draws it with these flips (GidFlag bits): the diagonal (x and y swapped) first, then
// the horizontal, then the vertical mirror. A diagonal flip needs a square tile.
QImage OrientedTile(const QImage& tile, std::uint32_t flips);

// The flips that draw a tile as OrientedTile(OrientedTile(tile, inner), outer) does, so a
// gid placing a tile stored in another orientation places the stored tile instead. Other
// bits of either value are ignored.
std::uint32_t CombinedFlips(std::uint32_t inner, std::uint32_t outer);

// Distinct tiles by exact pixel equality (alpha or palette index included), each with the
// orientations a map can place it in when flips are wanted.
class TileIndex {
public:
    struct Placement {
        std::int32_t id = -1;  // -1: not found
        std::uint32_t flips = 0;
    };

    // Tiles of one size and one format (RGBA8888, RGB32 or Indexed8).
    TileIndex(QSize tile, QImage::Format format, bool flips);

    // Content key of the tile's pixels; equal tiles have equal keys.
    std::uint64_t Key(const QImage& tile) const;
    // The stored tile and orientation that the tile equals; key is Key(tile). Only
    // orientations of the allowed flips are looked at.
    Placement Find(const QImage& tile, std::uint64_t key, std::uint32_t allowed = GidFlag::Flips) const;
    // Stores the tile under the next id and returns that id.
    std::int32_t Add(const QImage& tile);

    std::int32_t Count() const { return static_cast<std::int32_t>(tiles_.size()); }
    const QImage& Tile(std::int32_t id) const { return tiles_[static_cast<std::size_t>(id)]; }

private:
    struct Variant {
        std::vector<uchar> pixels;
        Placement placement;
    };
    std::vector<uchar> packed(const QImage& tile) const;

    QSize size_;
    bool flips_;
    std::size_t rowBytes_;
    std::vector<QImage> tiles_;
    std::unordered_multimap<std::uint64_t, Variant> variants_;
};
