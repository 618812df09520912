#include "maps/tilepainter.h"

#include "maps/scaledblend.h"
#include "runtime/limits.h"

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

void PaintCell(QPainter& painter, const QImage& image, const TiledTileset& tileset, QPointF topLeft, QSizeF size, std::uint32_t gid,
               bool hexagonal) {
    if (image.isNull()) {
        return;
    }
    const QSizeF half(size.width() / 2, size.height() / 2);
    double scaleX = size.width() / image.width(), scaleY = size.height() / image.height();
    if (tileset.preserveAspect) {
        scaleX = scaleY = std::min(scaleX, scaleY);
    }
    double x = topLeft.x() + half.width() + tileset.tileOffset.x() * scaleX;
    double y = topLeft.y() + half.height() + tileset.tileOffset.y() * scaleY;
    bool flipH = (gid & GidFlag::Horizontal) != 0, flipV = (gid & GidFlag::Vertical) != 0;
    double rotation = 0;
    if (hexagonal) {
        rotation = ((gid & GidFlag::Diagonal) != 0 ? 60 : 0) + ((gid & GidFlag::Rotated120) != 0 ? 120 : 0);
    } else if ((gid & GidFlag::Diagonal) != 0) {
        rotation = 90;
        const bool h = flipH;
        flipH = flipV;
        flipV = !h;
        const double halfDiff = half.height() - half.width();
        x += halfDiff;
        y += halfDiff;
    }
    scaleX *= flipH ? -1 : 1;
    scaleY *= flipV ? -1 : 1;
    const QTransform before = painter.worldTransform();
    QTransform transform = before;
    transform.translate(x, y);
    transform.rotate(rotation);
    const QRectF source(0, 0, image.width(), image.height());
    QRectF target(image.width() * -0.5, image.height() * -0.5, image.width(), image.height());
    if (scaleX > 0 && scaleY > 0) {
        // As Qt draws a pixmap fragment: the scale in the rectangle, not the transform.
        const double w = scaleX * image.width(), h = scaleY * image.height();
        target = QRectF(-0.5 * w, -0.5 * h, w, h);
    } else {
        transform.scale(scaleX, scaleY);
    }
    if (!BlendScaled(painter, transform, image, target)) {
        painter.setWorldTransform(transform);
        painter.drawImage(target, image, source);
        painter.setWorldTransform(before);
    }
}
