#pragma once

#include "imaging/picturesink.h"
#include "sheets/tilegrid.h"

#include <QImage>
#include <QStringList>

#include <cstdint>
#include <functional>

// Draws numbered tiles onto a sheet that is exactly the grid: columns across, as many rows
// as the tiles need. Empty cells, margins and spacing are transparent (PNG) or the
// background colour (BMP). Every tile must be the grid's tile size.
class SheetBuilder {
public:
    // Tile k's picture.
    using TileSource = std::function<QImage(std::int64_t)>;

    SheetBuilder(const TileGrid& grid, int columns, std::int64_t count, TileFormat format);

    // The sheet's size; empty when it would exceed the largest canvas.
    QSize SheetSize() const;

    // Loads tile k from path(k) into its cell, on every core. The sheet is indexed when
    // every tile is indexed with one palette (and the format is PNG), else RGBA8888 (PNG)
    // or RGB32 (BMP). A failure names the file it came from.
    QImage Build(const std::function<QString(std::int64_t)>& path) const;
    // The same from tiles at hand.
    QImage Draw(const TileSource& tile) const;

    // The same drawn a band of tile rows at a time: put(band, top) is given the rows of the
    // sheet from top on, top to bottom (RGB32 for a BMP sheet, RGBA8888 for a PNG one), so
    // memory does not grow with the sheet. False, with nothing drawn, for a PNG sheet whose
    // first tile is indexed: that sheet may be indexed, and Build makes it whole.
    bool BuildBands(const std::function<QString(std::int64_t)>& path,
                    const std::function<void(const QImage& band, int top)>& put) const;

private:
    QImage build(const TileSource& source, const QImage& first, bool indexed) const;

    // Draws tiles from to to - 1 into the band of sheet rows from top on, cleared first.
    void draw(const TileSource& source, const QImage& first, QImage& band, int top,
              std::int64_t from, std::int64_t to) const;

    TileGrid grid_;
    int columns_;
    std::int64_t count_;
    TileFormat format_;
};
