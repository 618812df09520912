#pragma once

#include "ldtk/ldtkproject.h"
#include "tiled/tiledmodel.h"

#include <map>

// An LDtk level as a Tiled map, drawn by Tiled's orthogonal rules as LDtk draws the level:
// layers bottom-most first; each tile layer split into as many Tiled tile layers as its
// tiles need (a second tile in a cell, a tile with its own alpha, a tile off the map's
// grid or of another size each go to a layer just above, offset and at the opacity that
// draws them where LDtk does); the background colour as the map's, the background picture
// (cropped and scaled) as an image layer at the bottom; each entity layer as an object
// layer; fields as properties. The map's cell is the grid most of its tile layers use.
// Tiles outside their sheet or tilesets without a picture give 481 naming the file, level
// and layer.
// The tilesets made for earlier levels of the project, shared by the levels after: an Aseprite
// sheet is decoded once, and an export takes a tileset that levels share for one set of sheets.
struct LevelTilesets {
    std::map<int, std::shared_ptr<TiledTileset>> byUid;
    std::map<QString, std::shared_ptr<TiledTileset>> values;  // an IntGrid layer's, by its identifier
};
TiledMap LevelMap(const LdtkProject& project, const LdtkLevel& level, LevelTilesets* made = nullptr);

// Entities placed by a level, and tilesets of the project that have no picture (used by
// entities only).
std::int64_t LevelEntities(const LdtkLevel& level);
QStringList TilesetsWithoutPicture(const LdtkProject& project);
