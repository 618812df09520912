#pragma once

#include "commands/commandresult.h"
#include "commands/tileoptions.h"

// Optimize: one tileset of the tiles that the maps use, and every map rewritten onto it.
struct OptimizeRequest {
    QStringList maps;
    QString out;  // the folder that gets the tileset, its sheet and the maps
    TileOptions options;  // tileset (the new tileset's name), width, flips, format, extrude
    bool dryRun = false;
};

struct OptimizeResult : CommandResult {
    TileGrid extruded;
    double seconds = 0;
};

OptimizeResult RunOptimize(const OptimizeRequest& request);
