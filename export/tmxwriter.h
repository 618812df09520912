#pragma once

#include "tiled/tiledmodel.h"

#include <QByteArray>
#include <QString>

#include <vector>

// Maps of the model as Tiled's TMX, for maps another editor's files were read into: an
// orthogonal finite map, its tilesets external (tilesetFiles[k] is tileset k's .tsx, relative
// to the map), tile layers as CSV with flips, offsets, opacity and visibility, object layers
// with their objects (tile objects by gid) and properties, image layers (imageFiles[k] is the
// k-th image layer's picture, relative to the map), the map's properties and background.
QByteArray TmxMap(const TiledMap& map, const std::vector<QString>& tilesetFiles, const std::vector<QString>& imageFiles);

// A sheet tileset as TSX, its picture named relative to the tileset, its tiles' properties kept.
QByteArray TsxTileset(const TiledTileset& tileset, const QString& image, QSize imageSize);
