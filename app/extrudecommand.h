#pragma once

#include "batchoptions.h"

// Extrude: a sheet, or the sheet of a tileset and the tileset itself, with every tile's edge
// pixels repeated outward. Returns the exit status.
int RunExtrude(const Request& request, const TileOptions& options);

// What a tileset needs to read an extrusion by n: "extruded by n: tileset margin M, spacing S".
QString ExtrusionSummary(int extrusion, const TileGrid& extruded);
