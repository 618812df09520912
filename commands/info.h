#pragma once

#include "commands/commandresult.h"

#include <QPoint>
#include <QSize>

#include <vector>

// Info: what the header of each picture says, and the layers of each map.
struct InfoRequest {
    QStringList files;
};

struct LayerInfo {
    QString kind;      // "tiles", "objects", "image", "group"
    QString name;      // "group/name" inside groups
    QString size;      // cells, objects, image size or layers
    QString tilesets;  // the tilesets its tiles come from, "-" for none
    bool visible = true;
    std::int64_t tiles = 0, entities = 0, grid = 0;  // LDtk layers
};

// A level of an LDtk project: its layers' kind is LDtk's ("Tiles", "AutoLayer", "IntGrid", "Entities").
struct LevelInfo {
    QString world;
    QString name;
    QSize size;
    QPoint position;  // in its world
    std::vector<LayerInfo> layers;
};

struct ProjectTilesetInfo {
    QString name;
    int grid = 0;
    QString picture;  // "" for none (used by entities only)
};

struct FileInfo {
    QString file;
    bool map = false;
    QString format;  // pictures: "PNG", "BMP", ...
    std::int64_t width = 0, height = 0, depth = 0;
    std::vector<LayerInfo> layers;  // maps
    QString orientation;            // maps: "isometric", "hexagonal staggeraxis=x ...", ...
    QSize cells, tile;              // maps
    // Tilesets (.tsx, .tsj): name and tile size above are the tileset's.
    bool tileset = false;
    QString name;
    int tileCount = 0, columns = 0;
    QString image;  // the sheet, "" for an image collection
    bool world = false;
    std::vector<std::pair<QString, QPoint>> worldMaps;  // worlds: each map's file and position
    QStringList uses;               // maps: the tilesets and templates read with it
    // LDtk projects
    bool project = false;
    QString version;
    std::vector<std::pair<QString, QString>> worlds;  // identifier, layout
    std::vector<LevelInfo> levels;
    std::vector<ProjectTilesetInfo> projectTilesets;
    std::optional<RuntimeError> failure;
};

struct InfoResult : CommandResult {
    std::vector<FileInfo> files;
};

InfoResult RunInfo(const InfoRequest& request);
