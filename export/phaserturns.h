#pragma once

#include "export/exportsheets.h"

#include <cstdint>
#include <map>
#include <tuple>

// Hexagonal cells turned by 60 or 120 degrees, which Phaser cannot draw, become turned copies
// of their tiles added to the sheets, as Tiled turns them about the tile's centre:
// (sheet, tile, the gid's flag bits) -> the copy's index.
using PhaserTurns = std::map<std::tuple<int, int, std::uint32_t>, int>;
// Adds the copies a map needs; before any map is written, so every map sees the final sheets.
void AddPhaserTurns(const TiledMap& map, ExportSheets& sheets, PhaserTurns& turns);
