#pragma once

#include "tiles/tileformat.h"
#include "tiles/tilegrid.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <functional>

class RowFeed;

// Cuts a sheet into the tiles of a grid, row-major, and writes them as numbered files.
class SheetSplitter {
public:
    // The sheet in a tile format (see picture files). With keepEdges, the partial tiles at
    // the right and bottom edges are cut too, padded with transparency (PNG) or the
    // background colour (BMP).
    SheetSplitter(const QImage& sheet, const TileGrid& grid, bool keepEdges, TileFormat format);

    // Columns and rows of tiles cut.
    QSize Cells() const { return cells_; }
    std::int64_t TileCount() const { return std::int64_t{cells_.width()} * cells_.height(); }
    // Pixels inside the margins that no tile written holds.
    std::int64_t DroppedPixels() const { return dropped_; }

    // Writes tile k as folder + TileFileName(start + k), on every core. The caller has
    // checked that the numbers fit in 32 bits. When decode is given, it runs beside the
    // cutting and fills the sheet, telling the feed as rows arrive; each tile waits for its
    // rows. A failure of either stops both; the decoder's is the one raised.
    void WriteTiles(const QString& folder, std::int32_t start, const std::function<void(RowFeed&)>& decode = {}) const;

    // Tile k as an image of the tile size (a view into the sheet where the tile is whole),
    // in the format its file is written from.
    QImage Tile(std::int64_t k) const;

private:
    // The cell of tile k, clipped where the far margins start.
    QRect inside(std::int64_t k) const;

    QImage sheet_;
    TileGrid grid_;
    TileFormat format_;
    QSize cells_;
    std::int64_t dropped_ = 0;
    int padIndex_ = 0;
};
