#pragma once

#include "export/exportcounts.h"
#include "export/godotobjects.h"
#include "export/godottileset.h"

#include <QByteArray>
#include <QString>

// A map as a Godot 4.3+ scene: a Node2D root, a TileMapLayer per tile layer in drawing order
// (tile_map_data as TileMapLayer saves it: format 0 in 16 bits, then 12 bytes a cell, x, y,
// source, atlas x, atlas y and alternative, little-endian; Tiled's flips as the alternative's
// FLIP_H, FLIP_V and TRANSPOSE bits), groups as Node2D, offsets as position, visibility as
// visible, opacity and tint as modulate. Cells land where Tiled draws them: each layer is
// moved by the grid's shift, and sorted by rows where its tiles overlap their neighbours.
// Object layers as Node2D holding their objects' nodes, image layers as Sprite2D
// (GodotObjects); a repeated or embedded picture is left out and counted.
class GodotWriter {
public:
    // res is the res:// path of the folder, name the file name of the TileSet there.
    GodotWriter(GodotTileSet& tileset, GodotGrid grid, QString res, QString name)
        : tileset_(tileset), grid_(std::move(grid)), res_(std::move(res)), name_(std::move(name)) {}

    // pictures: the image layers' pictures copied into the folder, by source (see GodotObjects).
    QByteArray Scene(const TiledMap& map, const QString& rootName, const ExportSheets& sheets, std::map<QString, QString>& pictures,
                     ExportCounts& counts);

private:
    void layers(const TiledMap& map, const std::vector<TiledLayer>& list, const QString& parent, const ExportSheets& sheets,
                ExportCounts& counts, GodotObjects& objects, QByteArray& text);

    GodotTileSet& tileset_;
    GodotGrid grid_;
    QString res_;
    QString name_;
};

// Why Godot cannot hold the map (empty when it can): its layout, or cells beyond the 16-bit
// coordinates of tile_map_data.
QString GodotRefusal(const TiledMap& map);
