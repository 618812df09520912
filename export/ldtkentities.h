#pragma once

#include "export/exportcounts.h"
#include "export/ldtkfields.h"
#include "tiled/tiledmodel.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QPoint>
#include <QPointF>
#include <QSize>

#include <set>
#include <vector>

// Tiled objects as LDtk entities. A definition per identifier (the object's class, else its
// name, else its kind) and shape, whose pivot is where Tiled puts the object's position: the
// top-left of rectangles, ellipses, texts and the bounds of polygons; a tile object's
// alignment (bottom-left unless its tileset says otherwise); a point's centre. Each property
// becomes a field; a tile object's tile is its own tile field, so objects of one definition
// may show different tiles.
class LdtkEntities {
public:
    struct Entity {
        int def = 0;
        int id = 0;  // the object's
        QPoint px;   // in its layer
        QSize size;
        std::vector<TiledProperty> properties;  // a text object's text added as "text"
        int tileset = 0;  // a tile object's tile: its tileset's uid (0 for none) and place there
        QRect tile;
    };
    // Where a tile object's tile lies: the tileset's uid and the tile's rectangle there.
    struct TilePlace {
        int tileset = 0;
        QRect rect;
    };

    // The entity of the object, its coordinates in range (LdtkRefusal checked them), counted.
    Entity Add(const TiledObject& object, const TiledTileset* tileset, TilePlace tile, int grid, const QString& colour,
               ExportCounts& counts);
    void Number(int& next, std::set<QString>& taken);
    QJsonArray Definitions() const;
    // world: the level's place in the world.
    QJsonObject Instance(const Entity& entity, int grid, QPoint world, const QString& iid, const LdtkFields::Context& context) const;

private:
    struct Def {
        QString wanted;  // the identifier before it is made unique
        QString identifier;
        QString render;  // "Rectangle", "Ellipse", "Tile", "Cross"
        QPointF pivot;
        QSize size;
        bool resizable = false;
        QString colour;
        TilePlace tile;  // the first tile object's, shown in LDtk's lists
        LdtkFields fields;
        int uid = 0;
    };
    std::vector<Def> defs_;
};
