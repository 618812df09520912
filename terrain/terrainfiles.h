#pragma once

#include "terrain/terrainset.h"

#include <QByteArray>
#include <QString>

// What each editor paints a terrain set with, beside its sheet.

// A Tiled tileset over the sheet with a mixed wang set per terrain: each tile's wang id
// marks the edges and corners its terrain reaches (a corner only where both of its edges do).
void WriteTerrainTileset(const QString& tsxPath, const TerrainSet& set, const QString& sheetPath);
// A Tiled map of one CSV layer over that tileset showing the demo.
void WriteTerrainDemo(const QString& tmxPath, const TerrainSet& set, const QString& tsxPath);
// A Godot 4 TileSet: one atlas source over the sheet (sheetRes, its res:// path) and one
// terrain set matching corners and sides, a terrain per terrain with its peering bits.
QByteArray TerrainGodotTileSet(const TerrainSet& set, const QString& sheetRes);
// An LDtk 1.5 project: the sheet as tileset (sheetName beside the project), an IntGrid
// layer with a value and a rule group per terrain, and the demo as a level with its tiles
// placed as LDtk's rules place them.
QByteArray TerrainLdtkProject(const TerrainSet& set, const QString& sheetName);
