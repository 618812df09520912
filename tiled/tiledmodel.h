#pragma once

#include "runtime/limits.h"

#include <QByteArray>
#include <QColor>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

// The maps and tilesets of the Tiled map editor as one model that every format fills
// (TMX/TSX, TMJ/TSJ). Paths in the model are absolute; the files hold them relative to
// themselves. Gids keep their flag bits (GidFlag); GidTile strips them.

inline std::uint32_t GidTile(std::uint32_t gid) { return gid & GidFlag::Tile; }

struct TiledProperty {
    QString name;
    QString type;  // "" for string
    QString value;
};

struct TiledImage {
    QString source;                // absolute; empty for none or an embedded image
    QByteArray data;               // an embedded image's file bytes (1.11: <data> or "data")
    QSize size;                    // as the file says; may be empty
    std::optional<QRgb> trans;     // the colour drawn transparent
    bool Empty() const { return source.isEmpty() && data.isEmpty(); }
};

struct TiledFrame {
    int tileId = 0;
    int duration = 0;
};

struct TiledObject;

struct TiledTile {
    int id = 0;
    QString type;  // "class" from 1.9 on
    std::vector<TiledProperty> properties;
    double probability = 1.0;
    TiledImage image;  // collections: the tile's own image
    QRect imageRect;   // the part of the image that is the tile (1.9); empty: all of it
    int collisionObjects = 0;
    std::vector<TiledFrame> animation;
    std::vector<TiledObject> collision;  // the shapes of its object group, in the tile's pixels
};

struct TiledWangSet {
    QString name;
    std::vector<int> tileIds;  // tiles the set names
};

struct TiledTileset {
    QString file;  // absolute path of a .tsx/.tsj; empty when embedded in its map
    bool loaded = true;  // false: only the reference was read (see LoadMap)
    QString name;
    QString className;
    QSize tile;
    int margin = 0;
    int spacing = 0;
    int columns = 0;
    int tileCount = 0;
    QPoint tileOffset;
    QString objectAlignment;  // "unspecified", "topleft", ... "bottomright"
    bool renderAtGridSize = false;  // tilerendersize "grid" (1.9): tiles drawn at the map's cell size
    bool preserveAspect = false;    // fillmode "preserve-aspect-fit" (1.9), not "stretch"
    TiledImage image;         // empty for an image collection
    std::map<int, TiledTile> tiles;
    std::vector<TiledWangSet> wangSets;
    std::vector<TiledProperty> properties;
    bool flipHorizontally = false, flipVertically = false, rotate = false, preferUntransformed = false;

    bool IsCollection() const { return image.Empty(); }
    // The largest local id plus one: tilecount for a sheet, the last tile id + 1 for a collection.
    int IdLimit() const;
};

struct TilesetRef {
    std::uint32_t firstGid = 1;
    std::shared_ptr<TiledTileset> tileset;
    // A tileset only a template names: the map file has no entry for it, and its gids
    // (given past the map's own) are only on objects made from that template.
    bool viaTemplate = false;
};

enum class ObjectKind { Tile, Shape, Text, Template };

// A text object's text and how Tiled sets it (the defaults are Tiled's).
struct TiledText {
    QString text;
    QString fontFamily = QStringLiteral("sans-serif");
    int pixelSize = 16;
    bool wrap = false;
    QColor colour = QColor(0, 0, 0);
    bool bold = false, italic = false, underline = false, strikeOut = false;
    bool kerning = true;
    QString hAlign = QStringLiteral("left");  // "left", "center", "right", "justify"
    QString vAlign = QStringLiteral("top");   // "top", "center", "bottom"
};

struct TiledObject {
    // What the object's own element says, so an instance overrides only those of its template.
    enum Given : unsigned { Name = 1, Type = 2, Size = 4, Rotation = 8, Gid = 16, Visible = 32, Opacity = 64, Shape = 128, Text = 256 };
    int id = 0;
    QString name;
    QString type;  // "class" from 1.9 on
    ObjectKind kind = ObjectKind::Shape;
    QPointF position;
    QSizeF size;
    double rotation = 0.0;
    std::uint32_t gid = 0;
    bool visible = true;
    double opacity = 1.0;  // 1.12
    unsigned given = 0;
    QString templateFile;  // absolute; the instance's template, resolved into the fields above
    bool gidFromTemplate = false;  // the gid is in a template's tileset, not the map's
    // Shapes: "rectangle", "ellipse", "point", "polygon" or "polyline", with the points of the
    // last two relative to the position.
    QString shape = QStringLiteral("rectangle");
    std::vector<QPointF> points;
    TiledText text;  // ObjectKind::Text
    std::vector<TiledProperty> properties;
};

// A rectangle of cells of a tile layer: the whole layer on a finite map, one <chunk> on an
// infinite one. Gids row by row.
struct TiledChunk {
    QRect area;
    std::vector<std::uint32_t> gids;
};

enum class LayerKind { Tiles, Objects, Image, Group };

struct TiledLayer {
    LayerKind kind = LayerKind::Tiles;
    int id = 0;
    QString name;
    QString className;
    bool visible = true;
    double opacity = 1.0;
    QPointF offset;
    std::optional<QColor> tint;
    QString mode = QStringLiteral("normal");  // blend mode (1.12)
    std::vector<TiledProperty> properties;
    // Tiles
    QSize size;
    std::vector<TiledChunk> chunks;
    QString encoding;     // "csv", "base64", "" (XML <tile> elements or a JSON array)
    QString compression;  // "", "zlib", "gzip", "zstd"
    // Objects
    std::vector<TiledObject> objects;
    std::optional<QColor> colour;  // the shapes' colour ("color"); Tiled's grey when none
    bool topDown = true;  // draworder "topdown" (by y) or "index"
    // Image
    TiledImage image;
    bool repeatX = false, repeatY = false;
    // Group
    std::vector<TiledLayer> layers;
};

struct TiledMap {
    QString file;
    QString orientation;
    QString renderOrder;
    QString className;
    // Staggered and hexagonal maps: the shifted axis ("x", "y"), which of its rows or
    // columns are shifted ("odd", "even"), and the hexagon's straight side.
    QString staggerAxis = QStringLiteral("y");
    QString staggerIndex = QStringLiteral("odd");
    int hexSideLength = 0;
    // Oblique maps: how far a row (skewX) or a column (skewY) is pushed per cell.
    int skewX = 0, skewY = 0;
    QSize size;
    QSize tile;
    bool infinite = false;
    std::optional<QColor> background;
    std::vector<TiledProperty> properties;
    std::vector<TilesetRef> tilesets;  // by firstgid, ascending
    std::vector<TiledLayer> layers;
    QStringList templates;  // absolute paths of the template files its objects use

    // The tileset a gid's tile is in (nullptr for gid 0 or one before every tileset).
    const TilesetRef* TilesetOf(std::uint32_t gid) const;
    // A map property's value, if there.
    std::optional<QString> Property(const QString& name) const;
};

// Every layer in drawing order, groups before their children (depth-first).
template <typename Layer, typename Visit>
void ForEachLayer(Layer& layers, Visit&& visit) {
    for (auto& layer : layers) {
        visit(layer);
        ForEachLayer(layer.layers, visit);
    }
}

// Every gid a layer places (cells and tile objects), a run of one tile in a row given once.
template <typename Visit>
void ForEachPlacedGid(const TiledLayer& layer, Visit&& visit) {
    for (const TiledChunk& chunk : layer.chunks) {
        std::uint32_t last = 0;
        for (const std::uint32_t gid : chunk.gids) {
            if (GidTile(gid) != last) {
                visit(gid);
                last = GidTile(gid);
            }
        }
    }
    for (const TiledObject& object : layer.objects) {
        if (!object.gidFromTemplate) {
            visit(object.gid);
        }
    }
}
