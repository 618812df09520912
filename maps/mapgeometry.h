#pragma once

#include "tiled/tiledmodel.h"

#include <QMargins>
#include <QPointF>
#include <QRect>
#include <QTransform>

#include <functional>
#include <memory>
#include <unordered_map>

// A cell of a tile layer as it is drawn: the bottom-left corner of its place on the
// picture, where a tile's image is aligned before its tileset's offset.
struct PlacedCell {
    int x = 0;
    int y = 0;
    std::uint32_t gid = 0;
    QPointF bottomLeft;
};
using CellVisit = std::function<void(const PlacedCell&)>;

// The gids of a tile layer looked up by cell, finite or in chunks.
class LayerCells {
public:
    explicit LayerCells(const TiledLayer& layer);
    std::uint32_t At(int x, int y) const;

private:
    const TiledLayer& layer_;
    QSize step_;  // the chunks' common size; empty when they differ
    std::unordered_map<std::uint64_t, const TiledChunk*> chunks_;
};

// Where an orientation puts a map's cells and objects on the picture, as Tiled's renderer
// for that orientation does: its bounds, the order and places of a layer's cells, and
// object coordinates on the screen. MapRenderer draws over it.
class MapGeometry {
public:
    explicit MapGeometry(const TiledMap& map) : map_(map) {}
    virtual ~MapGeometry() = default;
    // The geometry of the map's orientation; 481 for an orientation Tiled does not have.
    static std::unique_ptr<MapGeometry> Of(const TiledMap& map);

    // The picture of these cells before layer offsets (Tiled's map bounding rectangle).
    virtual QRect Bounds(const QRect& cells) const = 0;
    // The layer's non-empty cells in the order Tiled draws them. Cells whose bottom lies
    // outside [low, high] may be left out; cells is the layer's bounds and margins how far
    // its tiles reach past their cell (Tiled's draw margins).
    virtual void ForCells(const TiledLayer& layer, const QRect& cells, const QMargins& margins, double low, double high,
                          const CellVisit& visit) const = 0;
    // A point of the map's object coordinates on the picture.
    virtual QPointF PixelToScreen(QPointF point) const { return point; }
    // How Tiled's renderer maps an object's ellipse (isometric) or shapes (oblique) onto
    // the picture: identity where shapes are drawn as they are.
    virtual QTransform ShapeTransform() const { return QTransform(); }
    // Hexagonal cells turn by 60 degrees where others flip diagonally.
    virtual bool HexagonalCells() const { return false; }
    // Where a tile object is anchored when its tileset does not say.
    virtual QString DefaultAlignment() const { return QStringLiteral("bottomleft"); }

protected:
    const TiledMap& map_;
};

// The area Tiled walks to draw a layer: the layer's bounds on the picture grown by how far
// its tiles reach past their cells (margins as Tiled's tile layer gives them).
QRectF ExposedArea(const QRect& bounds, const QMargins& margins, QSize tile);
