#pragma once

#include "imaging/picturesink.h"
#include "sheets/tilegrid.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <functional>
#include <string>

class SheetBands;

// Cuts a sheet into the tiles of a grid, row-major, and writes them as numbered files.
class SheetSplitter {
public:
    // Writes a whole file of that name; called from several threads at once.
    using FileWrite = std::function<void(const std::string& name, const void* data, std::size_t size)>;

    // The sheet in a tile format (see picture files), or only its size for WriteTiles. With
    // keepEdges, the partial tiles at the right and bottom edges are cut too, padded with
    // transparency (PNG) or the background colour (BMP).
    SheetSplitter(const QImage& sheet, const TileGrid& grid, bool keepEdges, TileFormat format);
    SheetSplitter(QSize sheet, const TileGrid& grid, bool keepEdges, TileFormat format);

    // Columns and rows of tiles cut.
    QSize Cells() const { return cells_; }
    std::int64_t TileCount() const { return std::int64_t{cells_.width()} * cells_.height(); }
    // Pixels inside the margins that no tile written holds.
    std::int64_t DroppedPixels() const { return dropped_; }

    // Writes tile k as TileFileName(start + k) through write, on every core, reading the
    // sheet a band of tile rows at a time (the next band while the last is cut), so memory
    // does not grow with the sheet. The caller has checked that the numbers fit in 32 bits.
    // The first failure, of reading or of writing, is raised.
    void WriteTiles(SheetBands& sheet, std::int32_t start, const FileWrite& write) const;

    // Tile k as an image of the tile size (a view into the sheet where the tile is whole),
    // in the format its file is written from; of the sheet given, or of the band last taken.
    QImage Tile(std::int64_t k) const;

private:
    // Holds the band of sheet rows from top on, in the format tiles are cut from.
    void take(const QImage& band, int top);
    // The cell of tile k, clipped where the far margins start.
    QRect inside(std::int64_t k) const;

    QImage sheet_;  // the sheet, or a band of it from row top_
    int top_ = 0;
    QSize size_;
    TileGrid grid_;
    TileFormat format_;
    bool keepEdges_;
    QSize cells_;
    std::int64_t dropped_ = 0;
    int padIndex_ = 0;
};
