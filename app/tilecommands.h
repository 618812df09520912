#pragma once

#include "batchoptions.h"

// Split and Compile with the tile options: any picture format, any grid, PNG, exact
// sheets and tilesets. Return the exit status.
int RunTileSplit(const Request& request, const TileOptions& options);
int RunTileCompile(const Request& request, const TileOptions& options);
