#pragma once

#include "tiled/tiledmodel.h"

#include <QImage>
#include <QPainter>
#include <QRectF>

// Where a cell's tile picture is drawn, as Tiled's cell renderer places it: in a box of the
// tile's size (or the map's grid size, tilerendersize "grid") whose bottom-left corner is
// bottomLeft, scaled to the box (or, fillmode "preserve-aspect-fit", by the smaller of the two
// scales and centred), moved by the tileset's offset at that scale. tile is the picture's
// size before a diagonal flip; diagonal says the picture was turned.
QRectF TileTarget(const TiledTileset& tileset, QSizeF tile, QSizeF grid, QPointF bottomLeft, bool diagonal);

// The picture drawn into the target, copied pixel for pixel where no scaling is needed.
void PaintTile(QPainter& painter, const QImage& image, const QRectF& target);
