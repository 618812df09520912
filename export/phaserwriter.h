#pragma once

#include "export/exportcounts.h"
#include "export/exportsheets.h"
#include "export/phaserplan.h"

#include <QByteArray>
#include <QString>

#include <map>

// The pictures of image layers, copied beside the maps: each source file (or embedded
// image) once, under a file name of its own in the export's folder.
struct PhaserPictures {
    std::map<QString, QString> names;        // source path -> file name in the folder
    std::map<QString, QByteArray> embedded;  // file name -> bytes of an image held in a map
};

// A map as Phaser (3.60 and later, and 4) reads Tiled's JSON without a warning: every
// tileset embedded and drawn from an exported sheet beside the map, with its tiles' classes,
// properties, animations and collision shapes; tile layers as plain arrays of gids (flips in
// the top three bits, no hexagonal bit), groups, offsets, opacity, visibility, properties,
// object layers and image layers as the format holds them. Text and template objects, which
// the model does not hold whole, and layer tints, which Phaser does not draw, are left out
// and counted.
//
// Tile layers are placed where Tiled draws them (see PhaserPlan): each layer's offset carries
// what moves its tiles there, and an isometric map's origin, which Phaser puts at x 0 where
// Tiled starts at the map's height. Staggered maps Phaser only draws with odd rows shifted: the
// others are written as hexagonal maps with no straight side, which Phaser draws as Tiled does.
// Paths (sheets, image layers, file properties) are written relative to folder. A picture the
// map holds is named after the map's name (its file's base name, or its LDtk level's).
QByteArray PhaserMap(const TiledMap& map, const QString& name, const ExportSheets& sheets, const PhaserPlan& plan, const QString& folder,
                     ExportCounts& counts, PhaserPictures& pictures);

// Why Phaser cannot draw a map of this orientation; empty where it can.
QString PhaserRefusal(const TiledMap& map);
