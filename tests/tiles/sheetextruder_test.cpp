#include "imaging/picture.h"
#include "tiles/sheetextruder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace {

// A sheet whose every pixel differs from its neighbours, in the format given.
QImage patternSheet(QSize size, QImage::Format format, int colours = 200) {
    QImage sheet(size, format);
    if (format == QImage::Format_Indexed8) {
        QList<QRgb> palette;
        for (int i = 0; i < colours; ++i) {
            palette += qRgba(i, 255 - i, (i * 37) & 255, 255);
        }
        sheet.setColorTable(palette);
    }
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            if (format == QImage::Format_Indexed8) {
                sheet.setPixel(x, y, static_cast<uint>((x * 7 + y * 13) % colours));
            } else {
                sheet.setPixel(x, y, qRgba(x * 5 & 255, y * 3 & 255, (x ^ y) & 255, format == QImage::Format_RGB32 ? 255 : (x + y) * 9 & 255));
            }
        }
    }
    return sheet;
}

// The source pixel an extruded pixel shows, or none where it falls in a margin or gap: along
// each side, the position inside its grown cell less the extrusion, held to the tile.
std::optional<QPoint> sourceOf(QPoint at, const TileGrid& grid, int n, QSize cells) {
    int source[2];
    const int position[2] = {at.x(), at.y()};
    const int tile[2] = {grid.Tile().width(), grid.Tile().height()};
    const int count[2] = {cells.width(), cells.height()};
    for (int axis = 0; axis < 2; ++axis) {
        const int inner = position[axis] - grid.Margin();
        const int pitch = tile[axis] + 2 * n + grid.Spacing();
        const int cell = inner / pitch;
        const int local = inner % pitch;
        if (inner < 0 || cell >= count[axis] || local >= tile[axis] + 2 * n) {
            return std::nullopt;
        }
        source[axis] = grid.Margin() + cell * (tile[axis] + grid.Spacing()) + std::clamp(local - n, 0, tile[axis] - 1);
    }
    return QPoint(source[0], source[1]);
}

TEST(SheetExtruder, EveryPixelComesFromTheNearestTilePixelOrIsAGap) {
    struct Case {
        QSize tile;
        int margin;
        int spacing;
        int n;
        QSize sheet;
        QImage::Format format;
    };
    const Case cases[] = {
        {{4, 4}, 0, 0, 1, {12, 8}, QImage::Format_RGBA8888},
        {{3, 5}, 2, 1, 2, {17, 20}, QImage::Format_RGBA8888},   // partial tiles at both far edges
        {{1, 1}, 1, 3, 4, {9, 6}, QImage::Format_Indexed8},
        {{5, 2}, 0, 2, 3, {17, 11}, QImage::Format_Indexed8},
        {{4, 3}, 3, 0, 1, {14, 12}, QImage::Format_RGB32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.tile.width() << "x" << c.tile.height() << " m" << c.margin << " s"
                                        << c.spacing << " n" << c.n << " format " << c.format);
        const TileGrid grid(c.tile, c.margin, c.spacing);
        const SheetExtruder extruder(grid, c.n);
        const QImage sheet = patternSheet(c.sheet, c.format);
        const QImage out = extruder.Extrude(sheet);
        ASSERT_EQ(out.format(), c.format);
        const QSize cells = grid.WholeCells(c.sheet);
        ASSERT_EQ(out.size(), QSize(2 * c.margin + cells.width() * (c.tile.width() + 2 * c.n) + (cells.width() - 1) * c.spacing,
                                    2 * c.margin + cells.height() * (c.tile.height() + 2 * c.n) + (cells.height() - 1) * c.spacing));
        const QRgb gap = c.format == QImage::Format_RGB32 ? Picture::Background().rgb() : 0u;
        for (int y = 0; y < out.height(); ++y) {
            for (int x = 0; x < out.width(); ++x) {
                const auto from = sourceOf({x, y}, grid, c.n, cells);
                const QRgb expected = from ? sheet.pixel(*from) : gap;
                ASSERT_EQ(out.pixel(x, y), expected) << "at " << x << "," << y;
            }
        }
        // A map editor reads the same tiles from the grown grid.
        const TileGrid extruded = extruder.ExtrudedGrid();
        EXPECT_EQ(out.copy(extruded.Cell(cells.width() - 1, cells.height() - 1)),
                  sheet.copy(grid.Cell(cells.width() - 1, cells.height() - 1)));
    }
}

TEST(SheetExtruder, AFullPaletteWithGapsComesOutInColours) {
    struct Case {
        int colours;
        int margin;
        QImage::Format format;
    };
    const Case cases[] = {{256, 1, QImage::Format_RGBA8888}, {256, 0, QImage::Format_Indexed8}, {255, 1, QImage::Format_Indexed8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.colours << " colours, margin " << c.margin);
        const int m = c.margin;
        const QImage sheet = patternSheet({16 + 2 * m, 16 + 2 * m}, QImage::Format_Indexed8, c.colours);
        const QImage out = SheetExtruder(TileGrid({8, 8}, m, 0), 1).Extrude(sheet);
        ASSERT_EQ(out.format(), c.format);
        EXPECT_EQ(qAlpha(out.pixel(0, 0)), m > 0 ? 0 : 255);
        EXPECT_EQ(out.pixel(m, m), sheet.pixel(m, m));
        EXPECT_EQ(out.pixel(out.width() - 1 - m, out.height() - 1 - m), sheet.pixel(15 + m, 15 + m));
    }
}

TEST(SheetExtruder, SizesRefuseSheetsWithoutATileAndPastTheLargestCanvas) {
    EXPECT_EQ(SheetExtruder(TileGrid({16, 16}, 0, 0), 2).ExtrudedSize({33, 16}), QSize(40, 20));
    EXPECT_TRUE(SheetExtruder(TileGrid({16, 16}, 1, 0), 1).ExtrudedSize({17, 40}).isEmpty());
    EXPECT_TRUE(SheetExtruder(TileGrid({1, 1}, 0, 0), 1).ExtrudedSize({Picture::MaxSide, 1}).isEmpty());
    EXPECT_EQ(SheetExtruder(TileGrid({1, 1}, 0, 0), 1).ExtrudedSize({Picture::MaxSide / 3, 1}),
              QSize(Picture::MaxSide / 3 * 3, 3));
}

}  // namespace
