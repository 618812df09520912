#include "maps/obliquegeometry.h"

#include <QPolygonF>

ObliqueGeometry::ObliqueGeometry(const TiledMap& map) : MapGeometry(map) {
    shear_.shear(static_cast<double>(map.skewX) / map.tile.height(), static_cast<double>(map.skewY) / map.tile.width());
}

QRect ObliqueGeometry::Bounds(const QRect& cells) const {
    const QSize tile = map_.tile;
    const QRectF pixels(cells.x() * tile.width(), cells.y() * tile.height(), cells.width() * tile.width(), cells.height() * tile.height());
    return shear_.map(QPolygonF(pixels)).boundingRect().toAlignedRect();
}

void ObliqueGeometry::ForCells(const TiledLayer& layer, const QRect& cells, const QMargins&, double, double,
                               const CellVisit& visit) const {
    const LayerCells lookup(layer);
    const bool up = map_.renderOrder.endsWith("up");
    const bool left = map_.renderOrder.startsWith("left");
    for (int row = 0; row < cells.height(); ++row) {
        const int y = up ? cells.bottom() - row : cells.top() + row;
        for (int column = 0; column < cells.width(); ++column) {
            const int x = left ? cells.right() - column : cells.left() + column;
            const std::uint32_t gid = lookup.At(x, y);
            if (GidTile(gid) != 0) {
                visit(PlacedCell{x, y, gid, shear_.map(QPointF(x * map_.tile.width(), (y + 1) * map_.tile.height()))});
            }
        }
    }
}
