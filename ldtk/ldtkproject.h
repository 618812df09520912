#pragma once

#include <QColor>
#include <QJsonValue>
#include <QPoint>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// A project of the LDtk level editor (.ldtk, JSON, 1.0 on) as its file holds it: worlds of
// levels, each level's layers top-most first, tiles with their pixel positions on the
// layer and in the sheet. Paths are absolute; the files hold them relative to the project.

struct LdtkTile {
    QPoint px;    // top-left on the layer
    QPoint src;   // top-left in the tileset's picture
    int flips = 0;  // bit 0 X, bit 1 Y
    double alpha = 1.0;
};

struct LdtkField {
    QString identifier;
    QString type;  // "Int", "Float", "Bool", "String", "Color", "FilePath", "Enum(name)", "EntityRef", "Array<...>", ...
    QJsonValue value;
};

struct LdtkTileRect {
    int tilesetUid = -1;
    QRect rect;  // in the tileset's picture
};

struct LdtkEntity {
    QString identifier;
    QString iid;
    QPoint px;  // the pivot's point on the layer
    QPointF pivot;
    QSize size;
    QStringList tags;
    std::optional<LdtkTileRect> tile;
    std::vector<LdtkField> fields;
};

enum class LdtkLayerType { IntGrid, Entities, Tiles, AutoLayer };

struct LdtkIntGridValue {
    int value = 0;
    QString identifier;
    QColor colour;
};

struct LdtkLayer {
    QString identifier;
    LdtkLayerType type = LdtkLayerType::Tiles;
    int grid = 1;
    QSize cells;
    double opacity = 1.0;
    bool visible = true;
    QPoint offset;         // total, definition's and instance's
    int tilesetUid = -1;   // the override where given; -1 for none
    std::vector<LdtkTile> tiles;  // in drawing order, the first beneath the next
    std::vector<int> intGrid;     // IntGrid: a value per cell, row by row (0 for none)
    std::vector<LdtkIntGridValue> values;  // IntGrid: what its definition names its values
    std::vector<LdtkEntity> entities;
};

struct LdtkBackground {
    QString picture;  // absolute
    QPointF topLeft;
    QPointF scale{1.0, 1.0};
    QRectF crop;
};

struct LdtkLevel {
    QString identifier;
    QString iid;
    QString file;  // where its layers were read: the project or its .ldtkl
    QSize size;
    QPoint world;  // as placed by its world's layout
    int depth = 0;
    std::optional<QColor> background;
    std::optional<LdtkBackground> picture;
    std::vector<LdtkField> fields;
    std::vector<LdtkLayer> layers;  // top-most first, as the file lists them
};

struct LdtkTileset {
    int uid = -1;
    QString identifier;
    QString picture;  // absolute; "" for a tileset without one (internal icons, no path)
    QSize size;       // the picture's, as the project gives it
    int grid = 1;
    int spacing = 0;
    int padding = 0;
};

struct LdtkWorld {
    QString identifier;
    QString layout;  // "Free", "GridVania", "LinearHorizontal", "LinearVertical"
    std::vector<LdtkLevel> levels;  // in file order
};

struct LdtkProject {
    QString file;
    QString version;
    std::vector<LdtkTileset> tilesets;
    std::vector<LdtkWorld> worlds;

    const LdtkTileset* Tileset(int uid) const;
    // The level of that identifier in any world; nullptr where none has it.
    const LdtkLevel* Level(const QString& identifier) const;
    int LevelCount() const;
};

bool IsLdtkName(const QString& path);

// The project with every level's layers (external levels read from their .ldtkl). A missing
// file gives 53; a project that is no LDtk project or one past the limits gives 481 naming
// the file and, where it applies, the level and layer.
LdtkProject LoadLdtkProject(const QString& path);
LdtkProject ReadLdtkProject(const QString& file, const QByteArray& bytes);
