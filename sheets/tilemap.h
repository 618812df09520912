#pragma once

#include "imaging/picturesink.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// One cell of a map: a tile id of its tileset placed with flips (GidFlag bits), or empty.
struct MapCell {
    std::int32_t id = -1;  // -1: empty
    std::uint32_t flips = 0;
};

// An orthogonal map of one tile layer over one tileset, as a level picture cut into tiles.
class TileMap {
public:
    TileMap(QSize cells = QSize(), QSize tile = QSize());

    QSize Cells() const { return cells_; }
    QSize Tile() const { return tile_; }
    // The same map over tiles of another size (a .csv map learns it from its tileset).
    TileMap WithTile(QSize tile) const;
    MapCell& At(int column, int row) { return cells_data_[index(column, row)]; }
    const MapCell& At(int column, int row) const { return cells_data_[index(column, row)]; }

    // The picture's own size where the tiles do not cover it exactly (edges dropped or
    // padded); else the cells times the tile size.
    QSize PictureSize() const;
    void SetPictureSize(QSize size) { picture_ = size; }
    bool HasPictureSize() const { return picture_.has_value(); }

    // The colour of empty cells when they are of one opaque colour.
    std::optional<QRgb> Background;
    // Path of the tileset file (absolute once read).
    QString Tileset;

    // The picture the map shows: tiles[id] drawn with their flips edge to edge; empty cells
    // in the background colour, else transparent (PNG) or the background colour (BMP).
    // RGBA8888 for PNG, RGB32 for BMP.
    QImage Draw(const std::vector<QImage>& tiles, TileFormat format) const;

private:
    std::size_t index(int column, int row) const {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(cells_.width()) + static_cast<std::size_t>(column);
    }

    QSize cells_;
    QSize tile_;
    std::optional<QSize> picture_;
    std::vector<MapCell> cells_data_;
};
