#pragma once

#include "commands/commandresult.h"
#include "commands/tileoptions.h"

#include <QSize>

// Extrude: a sheet, or the sheet of a tileset and the tileset itself, with every tile's edge
// pixels repeated outward, against texture bleeding.
struct ExtrudeRequest {
    QString source;  // a sheet, or a .tsx
    QString out;     // a .png or .bmp sheet, or a .tsx (its sheet is written beside it)
    TileOptions options;  // the grid and the extrusion
    bool tileGiven = false;
};

struct ExtrudeResult : CommandResult {
    QString sheet;  // the extruded sheet as named
    QString tileset;  // the tileset written, "" for a sheet
    QSize size;
    QSize cells;
    bool partial = false;  // partial tiles at the right and bottom dropped
    TileGrid extruded;
};

ExtrudeResult RunExtrude(const ExtrudeRequest& request);

// What a tileset needs to read an extrusion by n: "extruded by n: tileset margin M, spacing S".
QString ExtrusionSummary(int extrusion, const TileGrid& extruded);
