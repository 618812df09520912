#pragma once

#include "maps/mapgeometry.h"

// Diamond cells: the map's x axis runs down to the right, its y axis down to the left, and
// cells are drawn in screen rows, each row left to right, as Tiled's isometric renderer
// walks them (its integer steps kept, so odd tile sizes land where Tiled puts them).
class IsometricGeometry : public MapGeometry {
public:
    using MapGeometry::MapGeometry;
    QRect Bounds(const QRect& cells) const override;
    void ForCells(const TiledLayer& layer, const QRect& cells, const QMargins& margins, double low, double high,
                  const CellVisit& visit) const override;
    QPointF PixelToScreen(QPointF point) const override;
    QString DefaultAlignment() const override { return QStringLiteral("bottom"); }
    QTransform ShapeTransform() const override;

private:
    QPointF tileToScreen(double x, double y) const;
    QPointF screenToTile(double x, double y) const;
    int originX() const { return map_.size.height() * map_.tile.width() / 2; }
};
