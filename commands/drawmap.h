#pragma once

#include "commands/commandresult.h"
#include "commands/tileoptions.h"

#include <QSize>

#include <cstdint>

// compile --map: the picture a map shows, drawn from its tilesets. A map of the plain kind
// split writes is drawn by exact copies of its tiles; every other map as Tiled draws it.
struct DrawMapRequest {
    QString map;
    QString destination;  // the picture file
    TileOptions options;  // tileset, format (formatGiven), empty colour
    bool hidden = false;  // draw layers that are not visible too
    QStringList layers;   // only these layers; all when empty
    std::int64_t animationTime = 0;  // ms: animated tiles show their frame of then
    bool animate = false;            // an animated PNG over the map's whole loop
    QStringList hide;     // not these layers
    double scale = 1.0;   // tmxrasterizer's --scale, --tilesize, --size
    int tileSize = 0;
    int fitSize = 0;
    bool antialiasing = false;
    bool smoothing = false;
    QString level;  // LDtk projects: the level drawn; the world where empty
    // Anything but the picture at scale 1 of every visible layer, without smoothing.
    bool Drawing() const {
        return hidden || animationTime != 0 || animate || !layers.isEmpty() || !hide.isEmpty() || scale != 1.0 || tileSize != 0 || fitSize != 0 || antialiasing || smoothing;
    }
};

struct DrawMapResult : CommandResult {
    bool plain = false;
    QSize size;
    QSize cells;  // plain maps: the cells and the tile size
    QSize tile;
    int layersDrawn = 0;
    int frames = 0;         // --animate: the moments the picture changes at (0 first)
    std::int64_t loop = 0;  // --animate: ms until the animation repeats
    double seconds = 0;
};

DrawMapResult RunDrawMap(const DrawMapRequest& request);
