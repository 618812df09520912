#pragma once

#include "export/exportcounts.h"
#include "export/exportsheets.h"

#include <QByteArray>
#include <QString>

// A map as Phaser (3.60 and later, and 4) reads Tiled's JSON without a warning: every
// tileset embedded and drawn from an exported sheet beside the map, tile layers as plain
// arrays of gids (flips in the top three bits, no hexagonal bit), groups, offsets, opacity,
// visibility, properties and object layers as the format holds them. Text and template
// objects, which the model does not hold whole, are left out and counted.
// Paths (sheets, image layers, file properties) are written relative to folder.
QByteArray PhaserMap(const TiledMap& map, const ExportSheets& sheets, const QString& folder, ExportCounts& counts);
