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

// A tile's unflipped picture drawn into a box of size whose top-left corner is topLeft, with
// the flips and turns of gid, through the painter as Tiled's cell renderer draws it: about
// the box's centre moved by the tileset's offset, an unflipped picture as a scaled rectangle
// and a flipped one through a mirroring transform. Qt samples a scaled picture by the
// transform, so only this sequence picks the source pixels Tiled's pictures show.
// Hexagonal cells turn by 60 and 120 degrees where others flip diagonally.
void PaintCell(QPainter& painter, const QImage& image, const TiledTileset& tileset, QPointF topLeft, QSizeF size, std::uint32_t gid,
               bool hexagonal);
