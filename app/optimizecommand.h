#pragma once

#include "batchoptions.h"

// Optimize: one tileset of the tiles that the maps use, and every map rewritten onto it.
// Returns the exit status.
int RunOptimize(const Request& request, const TileOptions& options);
