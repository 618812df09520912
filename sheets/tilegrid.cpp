#include "sheets/tilegrid.h"

#include <algorithm>
#include <cstdlib>

namespace {
// Along one side: cells whose whole tile lies inside the margins.
int wholeAlong(int side, int tile, int margin, int spacing) {
    const std::int64_t inner = std::int64_t{side} - 2 * std::int64_t{margin};
    return inner < tile ? 0 : static_cast<int>((inner + spacing) / (tile + spacing));
}

// Along one side: cells that start before the far margin.
int coveredAlong(int side, int tile, int margin, int spacing) {
    const std::int64_t inner = std::int64_t{side} - 2 * std::int64_t{margin};
    return inner <= 0 ? 0 : static_cast<int>((inner + tile + spacing - 1) / (tile + spacing));
}

std::int64_t extent(std::int64_t cells, int tile, int margin, int spacing) {
    return 2 * std::int64_t{margin} + cells * tile + (cells - 1) * spacing;
}
}  // namespace

TileGrid::TileGrid(QSize tile, int margin, int spacing) : tile_(tile), margin_(margin), spacing_(spacing) {}

QSize TileGrid::WholeCells(QSize sheet) const {
    return {wholeAlong(sheet.width(), tile_.width(), margin_, spacing_),
            wholeAlong(sheet.height(), tile_.height(), margin_, spacing_)};
}

QSize TileGrid::CoveredCells(QSize sheet) const {
    return {coveredAlong(sheet.width(), tile_.width(), margin_, spacing_),
            coveredAlong(sheet.height(), tile_.height(), margin_, spacing_)};
}

QRect TileGrid::Cell(int column, int row) const {
    return {margin_ + column * (tile_.width() + spacing_), margin_ + row * (tile_.height() + spacing_), tile_.width(),
            tile_.height()};
}

QSize TileGrid::SheetSize(int columns, int rows, int maxSide) const {
    const std::int64_t width = extent(columns, tile_.width(), margin_, spacing_);
    const std::int64_t height = extent(rows, tile_.height(), margin_, spacing_);
    if (columns < 1 || rows < 1 || width > maxSide || height > maxSide) {
        return {};
    }
    return {static_cast<int>(width), static_cast<int>(height)};
}

int TileGrid::SquarestColumns(std::int64_t count) const {
    // Ties go to the sheet with fewer empty cells, then to fewer columns.
    int best = 1;
    std::int64_t bestGap = -1;
    std::int64_t bestArea = 0;
    for (std::int64_t columns = 1; columns <= std::max<std::int64_t>(count, 1); ++columns) {
        const std::int64_t rows = (count + columns - 1) / columns;
        const std::int64_t width = extent(columns, tile_.width(), margin_, spacing_);
        const std::int64_t height = extent(std::max<std::int64_t>(rows, 1), tile_.height(), margin_, spacing_);
        const std::int64_t gap = std::llabs(width - height);
        const std::int64_t area = width * height;
        if (bestGap < 0 || gap < bestGap || (gap == bestGap && area < bestArea)) {
            best = static_cast<int>(columns);
            bestGap = gap;
            bestArea = area;
        }
    }
    return best;
}
