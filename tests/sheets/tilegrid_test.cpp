#include "sheets/tilegrid.h"

#include <gtest/gtest.h>

namespace {

TEST(TileGrid, CountsWholeAndPartialCellsAsMapEditorsDo) {
    struct Case {
        QSize tile;
        int margin;
        int spacing;
        QSize sheet;
        QSize whole;
        QSize covered;
    };
    const Case cases[] = {
        {{32, 32}, 0, 0, {100, 70}, {3, 2}, {4, 3}},
        {{32, 32}, 0, 0, {96, 64}, {3, 2}, {3, 2}},
        // An exact sheet: 2 + 5 * 16 + 4 * 1 + 2 wide, 2 + 3 * 24 + 2 * 1 + 2 high.
        {{16, 24}, 2, 1, {88, 78}, {5, 3}, {5, 3}},
        // One pixel more inside the far margin starts a partial cell.
        {{16, 24}, 2, 1, {90, 78}, {5, 3}, {6, 3}},
        // Only spacing past the last tile: no pixel of a cell, nothing partial.
        {{16, 24}, 2, 1, {89, 78}, {5, 3}, {5, 3}},
        {{64, 64}, 2, 0, {50, 50}, {0, 0}, {1, 1}},
        {{8, 8}, 10, 0, {20, 20}, {0, 0}, {0, 0}},
        {{1, 1}, 0, 4096, {3, 1}, {1, 1}, {1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sheet.width() << "x" << c.sheet.height() << " margin " << c.margin);
        const TileGrid grid(c.tile, c.margin, c.spacing);
        EXPECT_EQ(grid.WholeCells(c.sheet), c.whole);
        EXPECT_EQ(grid.CoveredCells(c.sheet), c.covered);
    }
}

TEST(TileGrid, CellsAndSheetSizesFollowMarginAndSpacing) {
    const TileGrid grid(QSize(16, 24), 2, 1);
    EXPECT_EQ(grid.Cell(0, 0), QRect(2, 2, 16, 24));
    EXPECT_EQ(grid.Cell(4, 2), QRect(2 + 4 * 17, 2 + 2 * 25, 16, 24));
    EXPECT_EQ(grid.SheetSize(5, 3, 1 << 17), QSize(88, 78));
    EXPECT_EQ(grid.SheetSize(1, 1, 1 << 17), QSize(20, 28));
    EXPECT_TRUE(grid.SheetSize(5, 3, 87).isEmpty());
    EXPECT_TRUE(grid.SheetSize(0, 3, 1 << 17).isEmpty());
    // No overflow on the way to a refusal.
    EXPECT_TRUE(TileGrid(QSize(4096, 4096), 4096, 4096).SheetSize(1 << 30, 1, 1 << 17).isEmpty());
}

TEST(TileGrid, SquarestColumnsMakeTheSheetClosestToSquare) {
    struct Case {
        QSize tile;
        int margin;
        int spacing;
        long long count;
        int columns;
    };
    const Case cases[] = {
        {{32, 32}, 0, 0, 16384, 128},
        {{32, 32}, 0, 0, 1, 1},
        {{16, 24}, 0, 0, 6, 3},    // 48 by 48
        {{32, 32}, 0, 0, 6, 2},    // 64 by 96 and 96 by 64 tie; fewer columns win
        {{32, 32}, 0, 0, 10, 3},   // 96 by 128 and 128 by 96 tie too
        {{32, 32}, 0, 0, 13, 4},   // 128 by 128 with 3 empty cells beats 160 by 96
        {{8, 32}, 1, 1, 12, 7},    // 2 + 7 * 8 + 6 = 64 wide, 2 + 2 * 32 + 1 = 67 high
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " tiles of " << c.tile.width() << "x" << c.tile.height());
        EXPECT_EQ(TileGrid(c.tile, c.margin, c.spacing).SquarestColumns(c.count), c.columns);
    }
}

}  // namespace
