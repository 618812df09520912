#pragma once

#include "maps/mapgeometry.h"

// Hexagons whose rows (stagger axis y) or columns (x) are shifted by half a cell, odd or
// even ones; with a side length of 0 these are the diamonds of a staggered map. Cells are
// drawn in screen rows, as Tiled's hexagonal renderer walks them.
class HexagonalGeometry : public MapGeometry {
public:
    explicit HexagonalGeometry(const TiledMap& map) : HexagonalGeometry(map, map.hexSideLength) {}
    QRect Bounds(const QRect& cells) const override;
    void ForCells(const TiledLayer& layer, const QRect& cells, const QMargins& margins, double low, double high,
                  const CellVisit& visit) const override;
    bool HexagonalCells() const override { return hexagonal_; }

protected:
    HexagonalGeometry(const TiledMap& map, int sideLength);

private:
    QPoint tileToScreen(int x, int y) const;
    QPoint screenToTile(double x, double y) const;
    void walkColumns(const LayerCells& lookup, const QRect& cells, const QMargins& margins, double low, double high,
                     const CellVisit& visit) const;
    bool shifted(int index) const { return ((index & 1) != 0) != staggerEven_; }

    bool hexagonal_ = false;
    bool staggerX_ = false;
    bool staggerEven_ = false;
    int tileWidth_ = 0, tileHeight_ = 0;  // Tiled rounds them down to even
    int sideLengthX_ = 0, sideLengthY_ = 0;
    int sideOffsetX_ = 0, sideOffsetY_ = 0;
    int columnWidth_ = 0, rowHeight_ = 0;
};
