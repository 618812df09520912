#pragma once

#include "tiled/tiledmodel.h"

#include <QString>

// Tiled's maps and tilesets, XML (.tmx, .tsx) or JSON (.tmj, .tsj, .json) by their content. A missing file gives 53; one that is no such file, a tileset or image it refers to
// that is missing, a gid past its tilesets or a size past the limits give 481 naming the
// file and the reason, before anything large is allocated.

bool IsTiledMapName(const QString& path);
bool IsWorldName(const QString& path);
// What keeps path from being read as a file ("is missing", "is a folder, not a file", ...),
// "" for nothing: the same words wherever a map, tileset or template is named.
QString NotAFile(const QString& path);
// With tilesets false, external tilesets are only referred to (file set, loaded false).
TiledMap LoadMap(const QString& path, bool tilesets = true);
TiledTileset LoadTileset(const QString& path);
// The tileset a map refers to by a path relative to it; a missing one is named in the map's message.
TiledTileset LoadTilesetOf(const QString& map, const QString& reference, bool load = true);

// Puts the tilesets in firstgid order and refuses a map whose layers or tile objects place a
// tile that no tileset of it holds.
void CheckMapGids(TiledMap& map);
