#include "maps/isometricgeometry.h"

#include <cmath>

QRect IsometricGeometry::Bounds(const QRect& cells) const {
    const int tw = map_.tile.width(), th = map_.tile.height();
    const int origin = cells.x() + cells.y();
    const int side = cells.width() + cells.height();
    return QRect(origin * tw / 2, origin * th / 2, side * tw / 2, side * th / 2);
}

QPointF IsometricGeometry::tileToScreen(double x, double y) const {
    const int tw = map_.tile.width(), th = map_.tile.height();
    return QPointF((x - y) * tw / 2 + originX(), (x + y) * th / 2);
}

QPointF IsometricGeometry::screenToTile(double x, double y) const {
    x -= originX();
    const double tileY = y / map_.tile.height();
    const double tileX = x / map_.tile.width();
    return QPointF(tileY + tileX, tileY - tileX);
}

QPointF IsometricGeometry::PixelToScreen(QPointF point) const {
    const int tw = map_.tile.width(), th = map_.tile.height();
    const double tileY = point.y() / th;
    const double tileX = point.x() / th;
    return QPointF((tileX - tileY) * tw / 2 + originX(), (tileX + tileY) * th / 2);
}

QTransform IsometricGeometry::ShapeTransform() const {
    // Tiled's diamond: turned by 45 degrees and squeezed along the shorter tile side. Its
    // origin is not rounded, unlike the one points are placed by.
    const double tw = map_.tile.width(), th = map_.tile.height();
    QPointF scale(M_SQRT2, M_SQRT2);
    if (tw > th) {
        scale.ry() *= th / tw;
    } else {
        scale.rx() *= tw / th;
    }
    QTransform transform;
    transform.translate(map_.size.height() * tw / 2, 0);
    transform.scale(scale.x(), scale.y());
    transform.rotate(45);
    return transform;
}

void IsometricGeometry::ForCells(const TiledLayer& layer, const QRect& cells, const QMargins& margins, double low, double high,
                                 const CellVisit& visit) const {
    const int tw = map_.tile.width(), th = map_.tile.height();
    const int side = cells.height() + cells.width();
    const QRect bounds((cells.x() - (cells.y() + cells.height())) * tw / 2 + originX(), (cells.x() + cells.y()) * th / 2,
                       side * tw / 2, side * th / 2);
    const QRectF exposed = ExposedArea(bounds, margins, map_.tile);
    const LayerCells lookup(layer);

    // The cell at the area's top-left corner, one row up when the corner is in its upper half.
    const QPointF tilePos = screenToTile(exposed.x(), exposed.y());
    QPoint rowItr(static_cast<int>(std::floor(tilePos.x())), static_cast<int>(std::floor(tilePos.y())));
    QPointF startPos = tileToScreen(rowItr.x(), rowItr.y());
    startPos.rx() -= tw / 2;
    startPos.ry() += th;
    const bool inUpperHalf = startPos.y() - exposed.y() > th / 2;
    const bool inLeftHalf = exposed.x() - startPos.x() < tw / 2;
    if (inUpperHalf) {
        if (inLeftHalf) {
            --rowItr.rx();
            startPos.rx() -= tw / 2;
        } else {
            --rowItr.ry();
            startPos.rx() += tw / 2;
        }
        startPos.ry() -= th / 2;
    }
    bool shifted = inUpperHalf ^ inLeftHalf;
    for (int y = static_cast<int>(startPos.y() * 2); y - th * 2 < exposed.bottom() * 2; y += th) {
        const double bottom = y / 2.0;
        if (bottom >= low && bottom <= high) {
            QPoint column = rowItr;
            for (int x = static_cast<int>(startPos.x()); x < exposed.right(); x += tw) {
                const std::uint32_t gid = lookup.At(column.x(), column.y());
                if (GidTile(gid) != 0) {
                    visit(PlacedCell{column.x(), column.y(), gid, QPointF(x, bottom)});
                }
                ++column.rx();
                --column.ry();
            }
        }
        if (!shifted) {
            ++rowItr.rx();
            startPos.rx() += tw / 2;
            shifted = true;
        } else {
            ++rowItr.ry();
            startPos.rx() -= tw / 2;
            shifted = false;
        }
    }
}
