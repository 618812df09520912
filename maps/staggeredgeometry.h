#pragma once

#include "maps/hexagonalgeometry.h"

// Diamond cells in shifted rows or columns: Tiled draws them as hexagons without sides.
class StaggeredGeometry : public HexagonalGeometry {
public:
    explicit StaggeredGeometry(const TiledMap& map) : HexagonalGeometry(map, 0) {}
};
