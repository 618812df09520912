// The gids a map's layers place: each must name a tile of one of its tilesets.
#include "runtime/runtimeerror.h"
#include "tiled/tiledfiles.h"

#include <gtest/gtest.h>

#include <memory>

namespace {
// A sheet of 10 tiles from gid 1, a collection holding ids 0 and 3 from gid 11, a tileset
// not loaded from gid 20 and a sheet of 4 tiles from gid 30, listed out of order.
TiledMap map(std::uint32_t gid) {
    TiledMap m;
    m.file = QStringLiteral("/game/level.tmx");
    const auto add = [&](std::uint32_t first, int count, bool collection, bool loaded) {
        auto tileset = std::make_shared<TiledTileset>();
        tileset->loaded = loaded;
        tileset->tileCount = count;
        if (!collection) {
            tileset->image.source = QStringLiteral("/game/sheet.png");
        } else {
            tileset->tiles[0] = TiledTile{};
            tileset->tiles[3] = TiledTile{};
        }
        m.tilesets.push_back({first, tileset});
    };
    add(30, 4, false, true);
    add(1, 10, false, true);
    add(11, 2, true, true);
    add(20, 0, false, false);
    TiledLayer layer;
    layer.kind = LayerKind::Tiles;
    layer.chunks.push_back({QRect(0, 0, 2, 1), {1, gid}});
    m.layers.push_back(layer);
    return m;
}

TEST(MapGids, EachPlacedGidNamesATileOfItsTileset) {
    const std::uint32_t flipped = 0x80000000u;
    const struct {
        std::uint32_t gid;
        bool holds;
    } cases[] = {
        {0, true},   {1, true},   {10, true},  {10 | flipped, true}, {11, true},  {14, true},  {12, false},
        {13, false}, {15, false}, {19, false}, {20, true},            {29, true},  {33, true}, {34, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.gid);
        TiledMap m = map(c.gid);
        if (c.holds) {
            EXPECT_NO_THROW(CheckMapGids(m));
        } else {
            EXPECT_THROW(CheckMapGids(m), RuntimeError);
        }
    }
}
}  // namespace
