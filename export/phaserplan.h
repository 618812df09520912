#pragma once

#include "export/exportsheets.h"

#include <QPoint>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <map>
#include <tuple>
#include <unordered_map>
#include <vector>

// How Phaser is made to draw a map's tile layers where Tiled draws them. Phaser draws a cell's
// tile from the cell's top-left corner at its tileset's tile size, flips and turns it about the
// middle of that rectangle, and applies no tileset offset; Tiled aligns a tile bottom-left in
// its cell, moves it by its tileset's offset, draws a diagonally flipped tile transposed, and
// turns hexagonal cells by 60 and 120 degrees. So each tile layer gets one shift, which its
// offset carries, and a tile Tiled puts elsewhere than that shift says (of another size or
// tileset offset than the layer's others, diagonally flipped and not square, or a turned
// hexagonal cell) is drawn from a copy, padded, flipped and turned as Tiled places it, in a
// sheet added for such copies. Plans are made for every map before any is written, so each
// map sees the final sheets.
class PhaserPlan {
public:
    struct Copy {
        int sheet = -1;
        int index = 0;
    };
    struct Layer {
        QPoint shift;  // from a cell's top-left corner to where Phaser draws its tiles
        std::unordered_map<std::uint32_t, Copy> copies;  // by the cell's gid, flags and all
    };

    void Add(const TiledMap& map, ExportSheets& sheets);
    // The plan of one of the tile layers of a map added.
    const Layer& Of(const TiledLayer& layer) const { return layers_.at(&layer); }
    // The sheets of copies a map added draws from.
    std::vector<int> CopySheets(const TiledMap& map) const;
    // Tiled draws a map staggered along x a half row at a time (a row's raised columns, then
    // its lowered ones) where Phaser draws each row's cells left to right. Where some tile
    // reaches past its own cell's outline, so the order shows, the map is written as an
    // orthogonal grid of half rows, cell (x, y) at row 2y + 1 in lowered columns, 2y in the
    // others: these cells' size (column width, half a row); empty where the map stays as it is.
    QSize HalfRows(const TiledMap& map) const;

private:
    struct Seen {
        ExportSheets::Place place;
        QRect picture;  // where Tiled draws it, from the cell's top-left corner
        int margin = 0;  // room on every side for a turned picture
        bool copied = false;  // Phaser cannot draw it from the sheet as it is
    };
    static Seen seen(const TiledMap& map, const ExportSheets& sheets, std::uint32_t gid, ExportSheets::Place place);
    Copy copy(ExportSheets& sheets, std::uint32_t gid, const Seen& seen, QPoint pad);

    std::map<const TiledLayer*, Layer> layers_;
    std::map<const TiledMap*, std::vector<int>> copySheets_;
    std::map<const TiledMap*, QSize> halfRows_;
    std::map<std::tuple<int, int, int>, int> sheetOf_;  // (source sheet, copy width, height) -> sheet of copies
    std::map<std::tuple<int, int, std::uint32_t, int, int>, Copy> made_;  // (sheet, tile, flags, pad) -> copy
};
