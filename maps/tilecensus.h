#pragma once

#include "sheets/tileindex.h"

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

// A tile of one of several tilesets: the tileset's number among them and the tile's id in it.
struct TileRef {
    std::int32_t tileset = 0;
    std::int32_t id = 0;
    bool operator==(const TileRef&) const = default;
};

// The tiles that maps use, across tilesets, each distinct tile once in order of first use:
// equal pixels (alpha included) and equal metadata make one tile; with flips, a turned or
// mirrored copy of a tile is that tile placed with the flags.
class TileCensus {
public:
    struct Counts {
        std::int64_t used = 0;     // distinct tiles of the tilesets met
        std::int64_t merged = 0;   // tiles equal to one met before
        std::int64_t flipped = 0;  // tiles equal to one met before once turned or mirrored
    };

    TileCensus(QSize tile, bool flips);

    // The new id and flips of the tile. metadata is everything but the pixels that must be
    // equal for two tiles to be one; orientable is false for a tile that must keep its own
    // orientation (a frame, a wang tile, one with collision shapes), turnable false for one
    // that may be mirrored but not turned (drawn stretched by a tile object). A tile met again
    // keeps its first answer. Pixels of another size than the census's give 481.
    TileIndex::Placement Use(TileRef ref, const QImage& pixels, const QByteArray& metadata, bool orientable, bool turnable = true);

    // The placement given to the tile, if it was met.
    std::optional<TileIndex::Placement> Find(TileRef ref) const;

    std::int32_t Count() const { return static_cast<std::int32_t>(sources_.size()); }
    // The pixels of new tile id (RGBA8888) and the tile that first gave them.
    const QImage& Tile(std::int32_t id) const { return tiles_[static_cast<std::size_t>(id)]; }
    TileRef Source(std::int32_t id) const { return sources_[static_cast<std::size_t>(id)]; }
    QSize TileSize() const { return size_; }
    bool Flips() const { return flips_; }
    const Counts& Tally() const { return counts_; }

private:
    // The tiles of one metadata: looked up as they are, or in every orientation.
    struct Kind {
        Kind(QSize tile, bool flips);
        TileIndex exact;
        TileIndex oriented;
        std::vector<std::int32_t> ids;  // new id of each tile of the two indexes
    };
    static std::uint64_t refKey(TileRef ref) {
        return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(ref.tileset)) << 32) |
               static_cast<std::uint32_t>(ref.id);
    }

    QSize size_;
    bool flips_;
    std::map<QByteArray, std::unique_ptr<Kind>> kinds_;
    std::unordered_map<std::uint64_t, TileIndex::Placement> placed_;
    std::vector<QImage> tiles_;
    std::vector<TileRef> sources_;
    Counts counts_;
};
