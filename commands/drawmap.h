#pragma once

#include "commands/commandresult.h"
#include "commands/tileoptions.h"

#include <QSize>

// compile --map: the picture a map shows, drawn from its tilesets. A map of the plain kind
// split writes is drawn by exact copies of its tiles; every other map as Tiled draws it.
struct DrawMapRequest {
    QString map;
    QString destination;  // the picture file
    TileOptions options;  // tileset, format (formatGiven), empty colour
    bool hidden = false;  // draw layers that are not visible too
    QStringList layers;   // only these layers; all when empty
    QStringList hide;     // not these layers
    double scale = 1.0;   // tmxrasterizer's --scale, --tilesize, --size
    int tileSize = 0;
    int fitSize = 0;
    bool antialiasing = false;
    bool smoothing = false;
    // Anything but the picture at scale 1 of every visible layer, without smoothing.
    bool Drawing() const {
        return hidden || !layers.isEmpty() || !hide.isEmpty() || scale != 1.0 || tileSize != 0 || fitSize != 0 || antialiasing || smoothing;
    }
};

struct DrawMapResult : CommandResult {
    bool plain = false;
    QSize size;
    QSize cells;  // plain maps: the cells and the tile size
    QSize tile;
    int layersDrawn = 0;
    double seconds = 0;
};

DrawMapResult RunDrawMap(const DrawMapRequest& request);
