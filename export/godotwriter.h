#pragma once

#include "export/exportcounts.h"
#include "export/exportsheets.h"

#include <QByteArray>
#include <QString>

#include <set>

// Maps as Godot 4.3+ scenes: a Node2D root, a TileMapLayer per tile layer in drawing order
// (tile_map_data as TileMapLayer saves it: format 0 in 16 bits, then 12 bytes a cell, x, y,
// source, atlas x, atlas y and alternative, little-endian; Tiled's flips as the
// alternative's FLIP_H, FLIP_V and TRANSPOSE bits), groups as Node2D, offsets as position,
// visibility as visible, opacity and tint as modulate; and one TileSet resource of an atlas
// source per sheet with an entry for each tile a scene places. Objects and image layers are
// left out and counted.
class GodotWriter {
public:
    // res is the res:// path of the folder the files go in ("res://" or "res://levels/").
    GodotWriter(const ExportSheets& sheets, QString res, QString tileset)
        : sheets_(sheets), res_(std::move(res)), tileset_(std::move(tileset)) {}

    QByteArray Scene(const TiledMap& map, const QString& rootName, ExportCounts& counts);
    // After every scene: the TileSet (tile size of the first map).
    QByteArray TileSet() const;

private:
    const ExportSheets& sheets_;
    QString res_;
    QString tileset_;  // file name of the TileSet in the folder
    QSize tile_;
    std::set<std::pair<int, int>> used_;  // sheet, index
};

// Godot's flags of a tile's alternative id.
namespace GodotTransform {
constexpr int FlipH = 1 << 12;
constexpr int FlipV = 1 << 13;
constexpr int Transpose = 1 << 14;
}  // namespace GodotTransform
