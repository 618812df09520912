#pragma once

#include "support/testsupport.h"
#include "tiledpictures.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <vector>

// LDtk projects the tests write, of their own noise sheets, as LDtk's JSON holds them.

inline QJsonArray pair(int x, int y) { return QJsonArray{x, y}; }

struct Tile {
    int x, y, sx, sy;
    int f = 0;
    double a = 1.0;
};

inline QJsonObject layer(const QString& name, const QString& type, int grid, QSize cells, int tileset, const std::vector<Tile>& tiles,
                  QJsonObject extra = {}) {
    QJsonArray list;
    for (const Tile& t : tiles) {
        list.append(QJsonObject{{"px", pair(t.x, t.y)}, {"src", pair(t.sx, t.sy)}, {"f", t.f}, {"a", t.a}, {"t", 0}, {"d", QJsonArray{0}}});
    }
    QJsonObject o{{"__identifier", name}, {"__type", type}, {"__gridSize", grid}, {"__cWid", cells.width()}, {"__cHei", cells.height()},
                  {"__opacity", 1}, {"__pxTotalOffsetX", 0}, {"__pxTotalOffsetY", 0}, {"visible", true}, {"layerDefUid", 100},
                  {"__tilesetDefUid", tileset < 0 ? QJsonValue() : QJsonValue(tileset)}, {"intGridCsv", QJsonArray{}},
                  {"autoLayerTiles", type == "Tiles" ? QJsonArray{} : list}, {"gridTiles", type == "Tiles" ? list : QJsonArray{}},
                  {"entityInstances", QJsonArray{}}};
    for (auto it = extra.begin(); it != extra.end(); ++it) {
        o[it.key()] = it.value();
    }
    return o;
}

inline QJsonObject level(const QString& name, QSize size, QPoint world, QJsonArray layers, QJsonObject extra = {}) {
    QJsonObject o{{"identifier", name}, {"iid", name + "-iid"}, {"pxWid", size.width()}, {"pxHei", size.height()}, {"worldX", world.x()},
                  {"worldY", world.y()}, {"worldDepth", 0}, {"__bgColor", "#203040"}, {"fieldInstances", QJsonArray{}},
                  {"layerInstances", layers}};
    for (auto it = extra.begin(); it != extra.end(); ++it) {
        o[it.key()] = it.value();
    }
    return o;
}

// Two noise sheets: 16-pixel tiles, and 8-pixel tiles with padding 2 and spacing 1.
inline QByteArray project(const TestFolder& folder, QJsonArray levels, const QString& layout = "Free") {
    noise(QSize(64, 48), 1).save(folder.File("sheet16.png"));
    noise(QSize(39, 30), 2).save(folder.File("sheet8.png"));
    const QJsonArray tilesets{
        QJsonObject{{"uid", 1}, {"identifier", "Big"}, {"relPath", "sheet16.png"}, {"pxWid", 64}, {"pxHei", 48}, {"tileGridSize", 16},
                    {"spacing", 0}, {"padding", 0}},
        QJsonObject{{"uid", 2}, {"identifier", "Small"}, {"relPath", "sheet8.png"}, {"pxWid", 39}, {"pxHei", 30}, {"tileGridSize", 8},
                    {"spacing", 1}, {"padding", 2}},
        QJsonObject{{"uid", 3}, {"identifier", "Internal_Icons"}, {"relPath", QJsonValue()}, {"embedAtlas", "LdtkIcons"},
                    {"pxWid", 16}, {"pxHei", 16}, {"tileGridSize", 16}}};
    const QJsonObject root{{"jsonVersion", "1.5.3"}, {"worldLayout", layout}, {"externalLevels", false},
                           {"defs", QJsonObject{{"tilesets", tilesets}, {"layers", QJsonArray{QJsonObject{{"uid", 100}, {"identifier", "L"}}}}}},
                           {"levels", levels}, {"worlds", QJsonArray{}}};
    return QJsonDocument(root).toJson();
}

inline QJsonObject objectOf(const QString& file) {
    QFile in(file);
    EXPECT_TRUE(in.open(QIODevice::ReadOnly)) << file.toStdString();
    return QJsonDocument::fromJson(in.readAll()).object();
}

struct LevelCase {
    const char* what;
    std::vector<Tile> tiles;
    QJsonObject extra;  // of the layer
    int tileset = 1, grid = 16;
};

inline std::vector<LevelCase> levelCases() {
    return {
        {"tiles on the grid", {{0, 0, 0, 0}, {16, 0, 48, 32}, {32, 16, 16, 16}}, {}},
        {"flips", {{0, 0, 16, 0, 1}, {16, 0, 16, 0, 2}, {32, 0, 16, 0, 3}}, {}},
        {"alpha and layer opacity", {{0, 0, 0, 0, 0, 0.5}, {16, 0, 16, 0, 0, 0.25}, {32, 0, 32, 0}}, {{"__opacity", 0.6}}},
        {"stacked in one cell, an alpha between", {{0, 0, 0, 0}, {0, 0, 16, 0, 0, 0.5}, {0, 0, 32, 16}, {16, 0, 48, 0}}, {}},
        {"a later tile over one off the grid", {{0, 0, 0, 0}, {8, 4, 16, 0}, {16, 0, 32, 0}, {16, 16, 48, 16}}, {}},
        {"off the grid and offset", {{5, 3, 0, 0}, {-7, 20, 16, 16}, {40, 37, 32, 32}}, {{"__pxTotalOffsetX", 3}, {"__pxTotalOffsetY", -5}}},
        {"smaller tiles with padding and spacing", {{0, 0, 2, 2}, {8, 8, 11, 11}, {24, 16, 29, 20}, {44, 12, 20, 11, 3}}, {}, 2, 8},
        {"hidden layer", {{0, 0, 0, 0}}, {{"visible", false}}},
        {"override tileset", {{0, 0, 2, 11}, {8, 0, 29, 2}}, {{"overrideTilesetUid", 2}, {"__tilesetDefUid", 1}}, 1, 8},
    };
}

// A level whose sides are no multiple of the grid, the case's layer over a plain one, and
// entities (not drawn) between them.
inline QJsonArray caseLevel(const LevelCase& c) {
    QJsonObject entities = layer("Things", "Entities", 16, QSize(7, 5), -1, {});
    entities["entityInstances"] = QJsonArray{
        QJsonObject{{"__identifier", "Door"}, {"iid", "door-1"}, {"px", pair(24, 32)}, {"__pivot", QJsonArray{0.5, 1}}, {"width", 16},
                    {"height", 16}, {"__tags", QJsonArray{"exit"}},
                    {"__tile", QJsonObject{{"tilesetUid", 1}, {"x", 16}, {"y", 0}, {"w", 16}, {"h", 16}}},
                    {"fieldInstances", QJsonArray{QJsonObject{{"__identifier", "to"}, {"__type", "EntityRef"},
                                                              {"__value", QJsonObject{{"entityIid", "key-1"}}}},
                                                  QJsonObject{{"__identifier", "hp"}, {"__type", "Int"}, {"__value", 3}}}}},
        QJsonObject{{"__identifier", "Key"}, {"iid", "key-1"}, {"px", pair(40, 8)}, {"__pivot", QJsonArray{0, 0}}, {"width", 8}, {"height", 8}}};
    return {level("One", QSize(100, 70), QPoint(0, 0),
                  {layer("Top", "AutoLayer", c.grid, QSize(100 / c.grid + 1, 70 / c.grid + 1), c.tileset, c.tiles, c.extra), entities,
                   layer("Under", "Tiles", 16, QSize(7, 5), 1, {{16, 16, 48, 16}, {0, 32, 0, 32, 2, 0.75}})})};
}

// An IntGrid layer "Walls" of cells (values row by row) of 16 pixels, its definition (uid 101,
// value 1 in red, drawing from tileset, -1 for none) added to the project; compact JSON.
inline QJsonObject walls(QSize cells, const QJsonArray& values, int tileset = -1, const std::vector<Tile>& tiles = {}) {
    QJsonObject o = layer("Walls", "IntGrid", 16, cells, -1, tiles);
    o["layerDefUid"] = 101;
    o["intGridCsv"] = values;
    o["__tilesetDefUid"] = tileset < 0 ? QJsonValue() : QJsonValue(tileset);
    return o;
}
inline QByteArray withWalls(const QByteArray& project, int tileset = -1) {
    QJsonObject root = QJsonDocument::fromJson(project).object(), defs = root["defs"].toObject();
    defs["layers"] = QJsonArray{defs["layers"].toArray()[0],
                                QJsonObject{{"uid", 101}, {"identifier", "Walls"}, {"tilesetDefUid", tileset < 0 ? QJsonValue() : QJsonValue(tileset)},
                                            {"intGridValues", QJsonArray{QJsonObject{{"value", 1}, {"color", "#ff0000"}}}}}};
    root["defs"] = defs;
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}
