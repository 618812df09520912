#include "maps/tilepainter.h"

#include <algorithm>

QRectF TileTarget(const TiledTileset& tileset, QSizeF tile, QSizeF grid, QPointF bottomLeft, bool diagonal) {
    const QSizeF box = tileset.renderAtGridSize ? grid : tile;
    double sx = tile.width() > 0 ? box.width() / tile.width() : 1.0;
    double sy = tile.height() > 0 ? box.height() / tile.height() : 1.0;
    if (tileset.preserveAspect) {
        sx = sy = std::min(sx, sy);
    }
    QPointF centre = bottomLeft + QPointF(box.width() / 2 + tileset.tileOffset.x() * sx, -box.height() / 2 + tileset.tileOffset.y() * sy);
    QSizeF drawn(tile.width() * sx, tile.height() * sy);
    if (diagonal) {
        // Turned about the box's centre moved as Tiled compensates for the swapped sides.
        const double halfDiff = box.height() / 2 - box.width() / 2;
        centre += QPointF(halfDiff, halfDiff);
        drawn.transpose();
    }
    return QRectF(centre - QPointF(drawn.width() / 2, drawn.height() / 2), drawn);
}

void PaintTile(QPainter& painter, const QImage& image, const QRectF& target) {
    if (target.size() == QSizeF(image.size())) {
        painter.drawImage(target.topLeft(), image);
    } else {
        painter.drawImage(target, image);
    }
}
