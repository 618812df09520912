#pragma once

#include "tiled/tiledmodel.h"
#include "sheets/tilemap.h"

#include <QString>

// Map files by their extension: .tmx (the Tiled map editor's XML: one orthogonal tile layer
// with CSV data, gids with flip flags in the top three bits, one external tileset from gid
// 1), .tmj (its JSON form) and .csv (tile ids only, -1 for empty, one line per row; its
// tileset is the .tsx of the same name beside it).

// True for a name ending in .tmx, .tmj, .json (written as .tmj) or .csv.
bool IsMapFileName(const QString& path);

// Writes the map; its Tileset is written relative to the map's folder. A .csv map holds no
// flips: the caller refuses them first.
void WriteMapFile(const QString& path, const TileMap& map);

// Reads a map of the kind above; a file that is no such map gives 481 with the reason.
// For .csv the tile size is left empty (the tileset has it).
TileMap ReadMapFile(const QString& path);

// A Tiled map as the plain kind above (one visible CSV tile layer drawn as it is, one
// external tileset from gid 1), drawn by copying tiles exactly; nullopt with the reason
// for any other map, which the map renderer draws.
std::optional<TileMap> PlainTileMap(const TiledMap& map, QString& why);
