#pragma once

#include "maps/mapgeometry.h"

// Square cells in rows: cells drawn in the map's render order.
class OrthogonalGeometry : public MapGeometry {
public:
    using MapGeometry::MapGeometry;
    QRect Bounds(const QRect& cells) const override;
    void ForCells(const TiledLayer& layer, const QRect& cells, const QMargins& margins, double low, double high,
                  const CellVisit& visit) const override;
};
