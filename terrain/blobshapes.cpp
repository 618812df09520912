#include "terrain/blobshapes.h"

#include <array>

namespace {
// RPG Maker MV's FLOOR_AUTOTILE_TABLE (rpg_core Tilemap.js, MIT licence, (c) KADOKAWA
// CORPORATION./YOJI OJIMA): for each shape, the A2 block's half-tile that fills the tile's
// top-left, top-right, bottom-left and bottom-right quarter, as x then y.
constexpr unsigned char Floor[Blob::Shapes][4][2] = {
    {{2, 4}, {1, 4}, {2, 3}, {1, 3}}, {{2, 0}, {1, 4}, {2, 3}, {1, 3}}, {{2, 4}, {3, 0}, {2, 3}, {1, 3}},
    {{2, 0}, {3, 0}, {2, 3}, {1, 3}}, {{2, 4}, {1, 4}, {2, 3}, {3, 1}}, {{2, 0}, {1, 4}, {2, 3}, {3, 1}},
    {{2, 4}, {3, 0}, {2, 3}, {3, 1}}, {{2, 0}, {3, 0}, {2, 3}, {3, 1}}, {{2, 4}, {1, 4}, {2, 1}, {1, 3}},
    {{2, 0}, {1, 4}, {2, 1}, {1, 3}}, {{2, 4}, {3, 0}, {2, 1}, {1, 3}}, {{2, 0}, {3, 0}, {2, 1}, {1, 3}},
    {{2, 4}, {1, 4}, {2, 1}, {3, 1}}, {{2, 0}, {1, 4}, {2, 1}, {3, 1}}, {{2, 4}, {3, 0}, {2, 1}, {3, 1}},
    {{2, 0}, {3, 0}, {2, 1}, {3, 1}}, {{0, 4}, {1, 4}, {0, 3}, {1, 3}}, {{0, 4}, {3, 0}, {0, 3}, {1, 3}},
    {{0, 4}, {1, 4}, {0, 3}, {3, 1}}, {{0, 4}, {3, 0}, {0, 3}, {3, 1}}, {{2, 2}, {1, 2}, {2, 3}, {1, 3}},
    {{2, 2}, {1, 2}, {2, 3}, {3, 1}}, {{2, 2}, {1, 2}, {2, 1}, {1, 3}}, {{2, 2}, {1, 2}, {2, 1}, {3, 1}},
    {{2, 4}, {3, 4}, {2, 3}, {3, 3}}, {{2, 4}, {3, 4}, {2, 1}, {3, 3}}, {{2, 0}, {3, 4}, {2, 3}, {3, 3}},
    {{2, 0}, {3, 4}, {2, 1}, {3, 3}}, {{2, 4}, {1, 4}, {2, 5}, {1, 5}}, {{2, 0}, {1, 4}, {2, 5}, {1, 5}},
    {{2, 4}, {3, 0}, {2, 5}, {1, 5}}, {{2, 0}, {3, 0}, {2, 5}, {1, 5}}, {{0, 4}, {3, 4}, {0, 3}, {3, 3}},
    {{2, 2}, {1, 2}, {2, 5}, {1, 5}}, {{0, 2}, {1, 2}, {0, 3}, {1, 3}}, {{0, 2}, {1, 2}, {0, 3}, {3, 1}},
    {{2, 2}, {3, 2}, {2, 3}, {3, 3}}, {{2, 2}, {3, 2}, {2, 1}, {3, 3}}, {{2, 4}, {3, 4}, {2, 5}, {3, 5}},
    {{2, 0}, {3, 4}, {2, 5}, {3, 5}}, {{0, 4}, {1, 4}, {0, 5}, {1, 5}}, {{0, 4}, {3, 0}, {0, 5}, {1, 5}},
    {{0, 2}, {3, 2}, {0, 3}, {3, 3}}, {{0, 2}, {1, 2}, {0, 5}, {1, 5}}, {{0, 4}, {3, 4}, {0, 5}, {3, 5}},
    {{2, 2}, {3, 2}, {2, 5}, {3, 5}}, {{0, 2}, {3, 2}, {0, 5}, {3, 5}},
};

// A quarter's vertical, horizontal and diagonal neighbour.
constexpr unsigned Around[4][3] = {
    {Blob::Top, Blob::Left, Blob::TopLeft},
    {Blob::Top, Blob::Right, Blob::TopRight},
    {Blob::Bottom, Blob::Left, Blob::BottomLeft},
    {Blob::Bottom, Blob::Right, Blob::BottomRight},
};

// The block's top row holds the inner corners (beside the preview tile); below it, the
// outer corners stand at the corners of the 2 by 2 tiles, sides at their left and right
// edges, caps at the top and bottom, the body inside.
Blob::Piece pieceAt(int x, int y) {
    if (y < 2) {
        return Blob::Piece::Inner;
    }
    const bool column = x == 0 || x == 3;
    const bool row = y == 2 || y == 5;
    return column && row ? Blob::Piece::Outer : column ? Blob::Piece::Side : row ? Blob::Piece::Cap : Blob::Piece::Body;
}

struct Tables {
    std::array<unsigned, Blob::Shapes> masks{};
    std::array<int, 256> shapes{};
    Tables() {
        shapes.fill(-1);
        for (int shape = 0; shape < Blob::Shapes; ++shape) {
            unsigned mask = 0;
            for (int quarter = 0; quarter < 4; ++quarter) {
                const unsigned* near = Around[quarter];
                switch (Blob::PieceOf(shape, quarter)) {
                case Blob::Piece::Body: mask |= near[0] | near[1] | near[2]; break;
                case Blob::Piece::Inner: mask |= near[0] | near[1]; break;
                case Blob::Piece::Side: mask |= near[0]; break;
                case Blob::Piece::Cap: mask |= near[1]; break;
                case Blob::Piece::Outer: break;
                }
            }
            masks[static_cast<std::size_t>(shape)] = mask;
            shapes[mask] = shape;
        }
    }
};

const Tables& tables() {
    static const Tables built;
    return built;
}
}  // namespace

namespace Blob {
Piece PieceOf(int shape, int quarter) { return pieceAt(Floor[shape][quarter][0], Floor[shape][quarter][1]); }

QPoint A2Quarter(int shape, int quarter) { return QPoint(Floor[shape][quarter][0], Floor[shape][quarter][1]); }

unsigned Mask(int shape) { return tables().masks[static_cast<std::size_t>(shape)]; }

int ShapeOf(unsigned neighbours) {
    unsigned mask = neighbours & (Top | Right | Bottom | Left);
    for (const auto& near : Around) {
        if ((neighbours & near[0]) && (neighbours & near[1]) && (neighbours & near[2])) {
            mask |= near[2];
        }
    }
    return tables().shapes[mask];
}
}  // namespace Blob
