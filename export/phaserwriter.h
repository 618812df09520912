#pragma once

#include "export/exportcounts.h"
#include "export/exportsheets.h"
#include "export/phaserturns.h"

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
// Phaser draws each tile from the top-left corner of its cell at its tileset's tile size and
// does not move it by the tileset's offset, where Tiled aligns a tile bottom-left in its cell
// and then offsets it; an isometric map it draws from x 0 where Tiled starts at the map's
// height. The difference goes into each tile layer's offset, so createLayer(i, tilesets)
// draws the layer where Tiled does; a layer whose tilesets need different offsets becomes one
// layer for each (the first keeps its name, the others are "NAME 2", ...). Staggered maps
// Phaser only draws with odd rows shifted: the others are written as hexagonal maps with no
// straight side, which Phaser draws as Tiled draws them.
// Paths (sheets, image layers, file properties) are written relative to folder.
QByteArray PhaserMap(const TiledMap& map, const ExportSheets& sheets, const PhaserTurns& turns, const QString& folder, ExportCounts& counts,
                     PhaserPictures& pictures);

// Why Phaser cannot draw a map of this orientation; empty where it can.
QString PhaserRefusal(const TiledMap& map);
