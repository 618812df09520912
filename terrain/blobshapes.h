#pragma once

#include <QPoint>

// The 47 shapes of a blob terrain: every way a cell's eight neighbours can be the same
// terrain, a corner counting only beside both of its edges. Numbered as RPG Maker MV numbers
// its floor autotiles, so an A2 block's tiles come out in the order its artists know.
namespace Blob {
// The neighbours, one bit each, in the order of Tiled's wang ids.
enum Neighbour : unsigned {
    Top = 1u << 0,
    TopRight = 1u << 1,
    Right = 1u << 2,
    BottomRight = 1u << 3,
    Bottom = 1u << 4,
    BottomLeft = 1u << 5,
    Left = 1u << 6,
    TopLeft = 1u << 7,
};
constexpr int Shapes = 47;

// The piece a quarter of a tile is cut from, by which of its three neighbours are the same
// terrain: none (outer corner), the vertical one (side), the horizontal one (cap), both
// edges without the diagonal (inner corner), all three (body). Also the order of the five
// tiles of a quarters template.
enum class Piece { Outer, Side, Cap, Inner, Body };

// Quarters of a tile: 0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right.
// The neighbours of the shape that are the same terrain.
unsigned Mask(int shape);
// The shape of any neighbourhood (corners beside an open edge are ignored).
int ShapeOf(unsigned neighbours);
Piece PieceOf(int shape, int quarter);
// Where RPG Maker MV takes the quarter from in an A2 block, in half tiles (4 across, 6 down).
QPoint A2Quarter(int shape, int quarter);
}  // namespace Blob
