#pragma once

#include "maps/mapgeometry.h"

#include <QTransform>

// Orthogonal cells sheared (Tiled 1.12): each row pushed skewx pixels right of the one
// above, each column skewy pixels below the one to its left. Tiles stay upright at their
// cell's sheared bottom-left corner, in the map's render order.
class ObliqueGeometry : public MapGeometry {
public:
    explicit ObliqueGeometry(const TiledMap& map);
    QRect Bounds(const QRect& cells) const override;
    void ForCells(const TiledLayer& layer, const QRect& cells, const QMargins& margins, double low, double high,
                  const CellVisit& visit) const override;
    QPointF PixelToScreen(QPointF point) const override { return shear_.map(point); }
    QTransform ShapeTransform() const override { return shear_; }

private:
    QTransform shear_;
};
