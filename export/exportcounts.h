#pragma once

#include <cstdint>

// What the engine writers placed and what their format could not hold.
struct ExportCounts {
    std::int64_t layers = 0;          // tile layers written
    std::int64_t tiles = 0;           // cells that place a tile
    std::int64_t objects = 0;         // objects written
    std::int64_t objectsLeftOut = 0;  // objects the format or the writer does not hold
    std::int64_t layersLeftOut = 0;   // layers of other kinds the format does not hold
    std::int64_t tintsLeftOut = 0;    // layer tints the engine does not draw
    std::int64_t animationsLeftOut = 0;  // tile animations whose frames the engine cannot reach
};
