#pragma once

#include <cstdint>

// What the engine writers placed and what their format could not hold.
struct ExportCounts {
    std::int64_t layers = 0;          // tile layers written
    std::int64_t tiles = 0;           // cells that place a tile
    std::int64_t objects = 0;         // objects written
    std::int64_t objectsLeftOut = 0;  // objects the format or the writer does not hold
    std::int64_t layersLeftOut = 0;   // layers of other kinds the format does not hold
    std::int64_t tintsLeftOut = 0;    // layer tints
    std::int64_t blendsLeftOut = 0;   // layer blend modes other than normal
    std::int64_t propertiesLeftOut = 0;   // properties with no place in the format, or of a type it lacks
    std::int64_t animationsLeftOut = 0;   // tile animations the engine cannot hold or reach
    std::int64_t shapesLeftOut = 0;       // tiles' collision shapes
    std::int64_t rotationsLeftOut = 0;    // turned objects written unturned
    std::int64_t outlinesLeftOut = 0;     // polygons and polylines written as their bounds
};
