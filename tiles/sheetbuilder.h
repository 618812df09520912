#pragma once

#include "tiles/tileformat.h"
#include "tiles/tilegrid.h"

#include <QImage>
#include <QStringList>

#include <cstdint>
#include <functional>

// Draws numbered tiles onto a sheet that is exactly the grid: columns across, as many rows
// as the tiles need. Empty cells, margins and spacing are transparent (PNG) or the
// background colour (BMP). Every tile must be the grid's tile size.
class SheetBuilder {
public:
    SheetBuilder(const TileGrid& grid, int columns, std::int64_t count, TileFormat format);

    // The sheet's size; empty when it would exceed the largest canvas.
    QSize SheetSize() const;

    // Loads tile k from path(k) into its cell, on every core. The sheet is indexed when
    // every tile is indexed with one palette (and the format is PNG), else RGBA8888 (PNG)
    // or RGB32 (BMP). A failure names the file it came from.
    QImage Build(const std::function<QString(std::int64_t)>& path) const;
    // The same from tiles in memory: tile(k) is tile k, of the grid's tile size.
    QImage Draw(const std::function<QImage(std::int64_t)>& tile) const;

private:
    QImage build(const std::function<QImage(std::int64_t)>& tile, const QImage& first, bool indexed) const;

    TileGrid grid_;
    int columns_;
    std::int64_t count_;
    TileFormat format_;
};
