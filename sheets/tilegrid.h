#pragma once

#include <QRect>
#include <QSize>

#include <cstdint>

// The grid of a tile sheet as map editors define it: tiles of one size, a margin of M
// pixels around the sheet's edge and S pixels between neighbouring tiles.
class TileGrid {
public:
    TileGrid(QSize tile = QSize(32, 32), int margin = 0, int spacing = 0);

    QSize Tile() const { return tile_; }
    int Margin() const { return margin_; }
    int Spacing() const { return spacing_; }

    // Columns and rows of whole tiles that a sheet of this size holds.
    QSize WholeCells(QSize sheet) const;
    // Columns and rows of cells that start inside the margin, the partial ones at the
    // right and bottom edges included.
    QSize CoveredCells(QSize sheet) const;
    // Pixel area of the cell at a column and row (unclipped).
    QRect Cell(int column, int row) const;
    // Size of a sheet of exactly this many columns and rows (both at least 1); empty when a
    // side would exceed maxSide.
    QSize SheetSize(int columns, int rows, int maxSide) const;
    // The column count that makes a sheet of count tiles closest to square.
    int SquarestColumns(std::int64_t count) const;

private:
    QSize tile_;
    int margin_;
    int spacing_;
};
