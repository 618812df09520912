#pragma once

#include "maps/tileblend.h"

#include "maps/tileimages.h"
#include "tiled/tiledmodel.h"

#include <QImage>
#include <QPointF>
#include <QSizeF>

#include <cstdint>
#include <vector>

// What a cell of a gid draws and where, relative to the cell's bottom-left corner, found
// once for each gid and tint and looked up for every cell: a big map places the same few
// hundred tiles hundreds of thousands of times.
class TilePlacements {
public:
    struct Placement {
        const QImage* image = nullptr;  // null: nothing to draw
        QPointF offset;                 // from the cell's bottom-left corner to the box's top-left
        QSizeF size;                    // the box the picture is drawn into
        bool blendable = false;         // premultiplied ARGB32 drawn at its own size, as BlendPremultiplied takes it
        bool opaque = false;            // every pixel of it
        BlendSource pixels;             // of the image, where blendable
    };

    TilePlacements(const TiledMap& map, TileImages& tiles) : map_(map), tiles_(tiles) {}

    // The tile of the gid with its flips (H, V, D) and the tint, as TileTarget places it.
    const Placement& Of(std::uint32_t gid, QRgb tint);

private:
    struct Slot {
        std::uint64_t key = 0;
        bool used = false;
        Placement placement;
    };
    Placement make(std::uint32_t gid, QRgb tint);

    const TiledMap& map_;
    TileImages& tiles_;
    std::vector<Slot> slots_ = std::vector<Slot>(64);  // open addressing, at most half full
    std::size_t used_ = 0;
};
