#pragma once

#include "ldtk/levelmap.h"

// The parts of a level's map that lay out its tiles: its tile layers and its IntGrid values.

// 481 naming the level's file, the level and, where given, the layer.
[[noreturn]] void LevelFailure(const LdtkLevel& level, const LdtkLayer* layer, const QString& reason);

// One LDtk tile layer as Tiled tile layers. A tile goes to the lowest layer above every layer
// holding an earlier tile it overlaps, among those of its alpha and offset whose cell is free,
// so the layers draw the tiles in LDtk's order wherever they overlap. cells counts the cells of
// every layer made for the level, which are bounded.
class TileLayers {
public:
    TileLayers(const TiledMap& map, const LdtkLayer& ldtk, QString name, bool visible, std::int64_t& cells)
        : map_(map), ldtk_(ldtk), name_(std::move(name)), visible_(visible), cells_(cells),
          top_(static_cast<std::size_t>(map.size.width()) * map.size.height(), -1) {}

    // The tile, a side pixels square, as gid.
    void Add(const LdtkTile& tile, std::uint32_t gid, int side, const LdtkLevel& level);
    // The layers made, numbered on from id.
    void Into(std::vector<TiledLayer>& layers, int& id) const;

private:
    struct Layer {
        double alpha;
        QPoint offset;
        std::vector<std::uint32_t> gids;
    };

    std::size_t index(int x, int y) const { return static_cast<std::size_t>(y) * map_.size.width() + x; }
    QRect coveredCells(const QRect& pixels) const;

    const TiledMap& map_;
    const LdtkLayer& ldtk_;
    QString name_;
    bool visible_;
    std::int64_t& cells_;
    std::vector<int> top_;  // per cell: the highest layer holding a tile over it
    std::vector<Layer> layers_;
};

// An IntGrid layer's values as a hidden tile layer over a tileset of one flat tile per value
// in its colour, each tile with the value and its identifier as properties; the tileset is
// made once for the layer's every level.
void IntGridValues(const LdtkLevel& level, const LdtkLayer& ldtk, TiledMap& map, LevelTilesets& made, std::int64_t& cells, int& id);
