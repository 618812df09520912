#include "runtime/runtimeerror.h"
#include "maps/gidmap.h"
#include "maps/tilecensus.h"

#include <gtest/gtest.h>

namespace {

using namespace GidFlag;

QImage patterned(int width, int height, int seed) {
    QImage tile(width, height, QImage::Format_RGBA8888);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            tile.setPixelColor(x, y, QColor((x * 40 + seed * 13) % 256, y * 40, (x * 7 + y * 3) * 5, 100 + x + y));
        }
    }
    return tile;
}

// Every pair of the eight orientations, checked on pixels: the combined flags draw what the
// two steps draw.
TEST(CombinedFlips, DrawWhatBothStepsDraw) {
    const QImage tile = patterned(5, 5, 1);
    for (std::uint32_t inner = 0; inner < 8; ++inner) {
        for (std::uint32_t outer = 0; outer < 8; ++outer) {
            const std::uint32_t combined = CombinedFlips(inner << 29, outer << 29);
            EXPECT_EQ(OrientedTile(tile, combined), OrientedTile(OrientedTile(tile, inner << 29), outer << 29))
                << std::hex << (inner << 29) << " then " << (outer << 29) << " gave " << combined;
        }
    }
    const struct {
        std::uint32_t inner, outer, combined;
    } known[] = {
        {Horizontal, Horizontal, 0},
        {Diagonal, Diagonal, 0},
        {Horizontal, Vertical, Horizontal | Vertical},
        {Diagonal | Horizontal, Diagonal | Horizontal, Horizontal | Vertical},  // 90 + 90 degrees
        {Diagonal | Horizontal, Horizontal, Diagonal},
        {Horizontal, Diagonal, Diagonal | Vertical},
        {Diagonal | Horizontal | Vertical, 0, Diagonal | Horizontal | Vertical},
    };
    for (const auto& k : known) {
        EXPECT_EQ(CombinedFlips(k.inner, k.outer), k.combined) << std::hex << k.inner << " then " << k.outer;
    }
}

TEST(TileCensus, OneTilePerPixelsAndMetadataInOrderOfFirstUse) {
    const QImage a = patterned(4, 4, 1);
    const QImage b = patterned(4, 4, 2);
    const QImage oblong = patterned(6, 4, 3);
    struct Use {
        TileRef ref;
        QImage pixels;
        QByteArray metadata;
        bool orientable;
        std::int32_t id;
        std::uint32_t flips;
    };
    const struct Case {
        const char* name;
        bool flips;
        std::vector<Use> uses;
        std::int32_t count;
        std::int64_t merged, flipped;
    } cases[] = {
        {"duplicates across tilesets",
         false,
         {{{0, 5}, a, "", true, 0, 0}, {{1, 0}, b, "", true, 1, 0}, {{1, 7}, a, "", true, 0, 0}, {{0, 5}, a, "", true, 0, 0}},
         2, 1, 0},
        {"mirrors stay tiles without flips",
         false,
         {{{0, 0}, a, "", true, 0, 0}, {{0, 1}, a.mirrored(true, false), "", true, 1, 0}},
         2, 0, 0},
        {"mirrors and turns fold with flips",
         true,
         {{{0, 0}, a, "", true, 0, 0},
          {{0, 1}, a.mirrored(true, false), "", true, 0, Horizontal},
          {{1, 0}, OrientedTile(a, Diagonal | Vertical), "", true, 0, Diagonal | Vertical},
          {{1, 1}, a, "", true, 0, 0}},
         1, 1, 2},
        {"other metadata is another tile",
         true,
         {{{0, 0}, a, "", true, 0, 0}, {{0, 1}, a, "<property name=\"solid\"/>", true, 1, 0},
          {{0, 2}, a.mirrored(), "<property name=\"solid\"/>", true, 1, Vertical}},
         2, 0, 1},
        {"a tile that keeps its orientation is stored as it is",
         true,
         {{{0, 0}, a, "", true, 0, 0}, {{0, 1}, a.mirrored(), "", false, 1, 0}, {{0, 2}, a.mirrored(), "", true, 1, 0}},
         2, 1, 0},
        {"oblong tiles fold in four orientations",
         true,
         {{{0, 0}, oblong, "", true, 0, 0},
          {{0, 1}, oblong.mirrored(true, true), "", true, 0, Horizontal | Vertical},
          {{0, 2}, OrientedTile(OrientedTile(oblong, Diagonal), Diagonal | Horizontal), "", true, 0, Horizontal}},
         1, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TileCensus census(c.uses.front().pixels.size(), c.flips);
        for (const Use& use : c.uses) {
            const TileIndex::Placement placed = census.Use(use.ref, use.pixels, use.metadata, use.orientable);
            EXPECT_EQ(placed.id, use.id) << use.ref.tileset << ":" << use.ref.id;
            EXPECT_EQ(placed.flips, use.flips) << use.ref.tileset << ":" << use.ref.id;
            ASSERT_TRUE(census.Find(use.ref));
            EXPECT_EQ(census.Find(use.ref)->id, use.id);
        }
        EXPECT_EQ(census.Count(), c.count);
        EXPECT_EQ(census.Tally().merged, c.merged);
        EXPECT_EQ(census.Tally().flipped, c.flipped);
        EXPECT_EQ(census.Tile(0), c.uses.front().pixels);
        EXPECT_EQ(census.Source(0), c.uses.front().ref);
    }
}

TEST(TileCensus, TilesOfAnotherSizeAreRefused) {
    TileCensus census(QSize(4, 4), true);
    EXPECT_THROW(census.Use({0, 0}, patterned(4, 5, 0), "", true), RuntimeError);
    EXPECT_FALSE(census.Find({0, 0}));
}

TEST(GidMap, GidsMoveOntoTheNewTilesetWithTheirFlagsCombined) {
    const QImage a = patterned(4, 4, 1);
    TileCensus census(a.size(), true);
    census.Use({2, 0}, a, "", true);                             // new id 0
    census.Use({2, 3}, patterned(4, 4, 2), "", true);            // new id 1
    census.Use({0, 1}, OrientedTile(a, Diagonal | Horizontal), "", true);  // 0 turned 90 degrees
    // The map's tilesets: number 2 from gid 1, number 0 from gid 10.
    const GidMap gids({{10, 0}, {1, 2}});
    const std::uint32_t Hex = 0x10000000u;
    const struct {
        std::uint32_t gid, remapped;
    } cases[] = {
        {0, 0},
        {1, 1},
        {4, 2},
        {4 | Horizontal | Vertical, 2 | Horizontal | Vertical},
        {4 | Hex, 2 | Hex},
        {11, 1 | Diagonal | Horizontal},
        {11 | Horizontal, 1 | Diagonal},
        {11 | Diagonal | Horizontal, 1 | Horizontal | Vertical},
        {11 | Vertical | Hex, 1 | Diagonal | Horizontal | Vertical | Hex},
        {Horizontal, Horizontal},  // flags on no tile stay as they were
    };
    for (const auto& c : cases) {
        EXPECT_EQ(gids.Remap(c.gid, census), c.remapped) << std::hex << c.gid;
    }
    EXPECT_EQ(gids.Remap(11, census, 5), 5u | Diagonal | Horizontal);
    EXPECT_FALSE(gids.Ref(0));
    EXPECT_EQ(gids.Ref(12 | Horizontal), (TileRef{0, 2}));
    EXPECT_THROW(gids.Remap(2, census), RuntimeError);   // tile 1 of set 2 was never counted
    EXPECT_THROW(GidMap({{5, 0}}).Remap(3, census), RuntimeError);  // before every first gid
}

}  // namespace
