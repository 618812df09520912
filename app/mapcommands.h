#pragma once

#include "batchoptions.h"

// Split with --unique: each distinct tile once, a map and its tileset. Returns the exit status.
int RunUniqueSplit(const Request& request, const TileOptions& options);

// Compile --map: the picture a map shows, drawn from its tileset. Returns the exit status.
int RunMapCompile(const Request& request, const TileOptions& options);

// Info of a Tiled map: one line per layer (kind, name, size, tilesets used, visible). Returns the exit status.
int PrintMapInfo(const QString& file);
