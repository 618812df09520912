#pragma once

#include "maps/mapgeometry.h"
#include "maps/tileanimation.h"
#include "maps/tileimages.h"

#include <QColor>
#include <QPainter>

// The objects of an object layer drawn as Tiled's renderer of the map's orientation draws
// them for tmxrasterizer: in the layer's order (by y when "topdown"), each turned about its
// position. Tile objects anchored by their tileset's alignment, scaled and flipped. Shapes
// in the layer's colour (Tiled's grey without one) over a black shadow, with a round 2-pixel
// pen that does not scale, always anti-aliased, filled with the colour at alpha 50;
// isometric maps put them onto the diamond grid, oblique maps shear them. Text in its font
// and colour inside its box, unturned by the grid.
class ObjectPainter {
public:
    ObjectPainter(const TiledMap& map, const MapGeometry& geometry, TileImages& tiles, TileFrames& frames)
        : map_(map), geometry_(geometry), tiles_(tiles), frames_(frames) {}

    // The painter is at the layer's offset with its opacity and blend mode; tile objects
    // are tinted by tint, shapes and text are not (nor blended other than over).
    void DrawLayer(QPainter& painter, const TiledLayer& layer, double opacity, QRgb tint);

    // True once any text was drawn in this process: Qt's fonts were loaded.
    static bool FontsUsed();

private:
    void drawTile(QPainter& painter, const TiledObject& object, QRgb tint);
    // Orthogonal, staggered and hexagonal maps: the shape as it is.
    void drawFlat(QPainter& painter, const TiledObject& object, const QColor& colour) const;
    // Isometric maps: shapes on the diamond grid, the shadow below, the colour lifted.
    void drawIsometric(QPainter& painter, const TiledObject& object, const QColor& colour) const;
    // Oblique maps (Tiled 1.12): shapes sheared, the shadow below.
    void drawOblique(QPainter& painter, const TiledObject& object, const QColor& colour) const;
    void drawText(QPainter& painter, const TiledObject& object, QPointF corner) const;

    const TiledMap& map_;
    const MapGeometry& geometry_;
    TileImages& tiles_;
    TileFrames& frames_;
};
