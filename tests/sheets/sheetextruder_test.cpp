#include "imaging/picture.h"
#include "runtime/limits.h"
#include "sheets/sheetextruder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// Along one side: the source position an extruded one shows (the position inside its grown
// cell less the extrusion, held to the tile), or -1 in a margin or gap.
int sourceAlong(int at, int tile, int margin, int spacing, int n, int cells) {
    const int inner = at - margin;
    const int pitch = tile + 2 * n + spacing;
    if (inner < 0 || inner / pitch >= cells || inner % pitch >= tile + 2 * n) {
        return -1;
    }
    return margin + inner / pitch * (tile + spacing) + std::clamp(inner % pitch - n, 0, tile - 1);
}

TEST(SheetExtruder, EveryPixelIsTheNearestPixelOfItsTileOrAGap) {
    struct Case {
        QSize tile;
        int margin, spacing, n;
        QSize sheet;  // partial tiles at the far edges where it is not exact
        QImage::Format format;
        int colours;  // of the palette; 256 leave no entry for the gaps
        QImage::Format out;
    };
    const Case cases[] = {
        {{4, 4}, 0, 0, 1, {12, 8}, QImage::Format_RGBA8888, 0, QImage::Format_RGBA8888},
        {{3, 5}, 2, 1, 2, {17, 20}, QImage::Format_RGBA8888, 0, QImage::Format_RGBA8888},
        {{1, 1}, 1, 3, 4, {9, 6}, QImage::Format_Indexed8, 200, QImage::Format_Indexed8},
        {{5, 2}, 0, 2, 3, {17, 11}, QImage::Format_Indexed8, 255, QImage::Format_Indexed8},
        {{8, 8}, 0, 0, 1, {16, 16}, QImage::Format_Indexed8, 256, QImage::Format_Indexed8},
        {{8, 8}, 1, 0, 1, {18, 18}, QImage::Format_Indexed8, 256, QImage::Format_RGBA8888},
        {{4, 3}, 3, 0, 1, {14, 12}, QImage::Format_RGB32, 0, QImage::Format_RGB32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.tile.width() << "x" << c.tile.height() << " m" << c.margin << " s" << c.spacing
                                        << " n" << c.n << " format " << c.format << " colours " << c.colours);
        QImage sheet(c.sheet, c.format);
        QList<QRgb> palette;
        for (int i = 0; i < c.colours; ++i) {
            palette += qRgb(i, 255 - i, (i * 37) & 255);
        }
        sheet.setColorTable(palette);
        for (int y = 0; y < c.sheet.height(); ++y) {
            for (int x = 0; x < c.sheet.width(); ++x) {
                sheet.setPixel(x, y, c.colours > 0 ? static_cast<uint>((x * 7 + y * 13) % c.colours)
                                                   : qRgba(x * 5, y * 3, x ^ y, c.format == QImage::Format_RGB32 ? 255 : (x + y) * 9 & 255));
            }
        }
        const TileGrid grid(c.tile, c.margin, c.spacing);
        const QImage out = SheetExtruder(grid, c.n).Extrude(sheet);
        ASSERT_EQ(out.format(), c.out);
        const QSize cells = grid.WholeCells(c.sheet);
        ASSERT_EQ(out.size(), TileGrid(c.tile + QSize(2 * c.n, 2 * c.n), c.margin, c.spacing)
                                  .SheetSize(cells.width(), cells.height(), Limits::PictureSide));
        const QRgb gap = c.format == QImage::Format_RGB32 ? Picture::Background().rgb() : 0u;
        for (int y = 0; y < out.height(); ++y) {
            for (int x = 0; x < out.width(); ++x) {
                const int sx = sourceAlong(x, c.tile.width(), c.margin, c.spacing, c.n, cells.width());
                const int sy = sourceAlong(y, c.tile.height(), c.margin, c.spacing, c.n, cells.height());
                ASSERT_EQ(out.pixel(x, y), sx < 0 || sy < 0 ? gap : sheet.pixel(sx, sy)) << "at " << x << "," << y;
            }
        }
        // A tile row at a time, from only the sheet rows it needs, the bands make the same sheet.
        const SheetExtruder extruder(grid, c.n);
        QImage banded = out.copy();
        banded.fill(0);
        for (int r = 0; r < cells.height(); ++r) {
            const int top = grid.Cell(0, r).y();
            const QImage band = extruder.ExtrudeRows(sheet.copy(0, top, c.sheet.width(), c.tile.height()), c.sheet, top, r, r + 1);
            ASSERT_EQ(band.height(), extruder.OutTop(c.sheet, r + 1) - extruder.OutTop(c.sheet, r));
            for (int y = 0; y < band.height(); ++y) {
                std::copy_n(band.constScanLine(y), band.bytesPerLine(), banded.scanLine(extruder.OutTop(c.sheet, r) + y));
            }
        }
        EXPECT_EQ(banded, out);
    }
}

TEST(SheetExtruder, NoSheetWithoutAWholeTileOrPastTheLargestCanvas) {
    EXPECT_TRUE(SheetExtruder(TileGrid({16, 16}, 1, 0), 1).ExtrudedSize({17, 40}).isEmpty());
    EXPECT_TRUE(SheetExtruder(TileGrid({1, 1}, 0, 0), 1).ExtrudedSize({Limits::PictureSide / 3 + 1, 1}).isEmpty());
    EXPECT_EQ(SheetExtruder(TileGrid({1, 1}, 0, 0), 1).ExtrudedSize({Limits::PictureSide / 3, 1}), QSize(Limits::PictureSide / 3 * 3, 3));
}

}  // namespace
