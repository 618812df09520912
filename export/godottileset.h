#pragma once

#include "export/exportsheets.h"

#include <QByteArray>
#include <QPointF>
#include <QString>

#include <map>
#include <vector>

// How Godot 4 lays out a map's cells: TileSet's tile_shape, tile_layout, tile_offset_axis and
// tile_size, and where its cell centres fall against Tiled's (shift, added to each
// TileMapLayer's position). Two maps share a TileSet only where these are equal.
struct GodotGrid {
    int shape = 0;   // square, isometric, half-offset square, hexagon
    int layout = 0;  // stacked, stacked offset, stairs right, stairs down, diamond right, diamond down
    int axis = 0;    // offset axis: horizontal, vertical
    QSize tile;
    QPointF shift;
    bool SameCells(const GodotGrid& other) const {
        return shape == other.shape && layout == other.layout && axis == other.axis && tile == other.tile;
    }
};

// The grid of the map, or why Godot cannot lay it out (empty when it can).
QString GodotGridOf(const TiledMap& map, GodotGrid& grid);

// A tile animation laid out as Godot's atlas animations read it: its frames' pictures copied to
// the end of the sheet, from the start of a row, one after another.
struct GodotAnimation {
    int first = 0;               // the index of its first frame in the sheet
    std::vector<int> durations;  // ms
};
// By sheet and index of the animated tile; shared by the TileSets of one export, so that a
// tile's frames are copied once.
using GodotAnimations = std::map<std::pair<int, int>, GodotAnimation>;

// A TileSet resource: an atlas source per sheet, an entry for each tile placed, each placed as
// Tiled places it (bottom-left in its cell, moved by its tileset's tileoffset) through its
// texture_origin in whole pixels; tile animations as Godot's atlas animations; collision
// shapes as polygons of physics layer 0; tile properties as custom data layers (one per
// property name, of its type), the class as the custom data "class".
class GodotTileSet {
public:
    GodotTileSet(ExportSheets& sheets, GodotAnimations& animations, QString res, GodotGrid grid)
        : sheets_(sheets), animations_(animations), res_(std::move(res)), grid_(std::move(grid)) {}

    // Takes in the tilesets the map draws from: their offsets and animations. Every map
    // before the first Place.
    void AddMap(const TiledMap& map);
    // What the cells of the TileSet's maps are moved by so that every origin is whole
    // (half a pixel on an axis where tiles and cells differ in parity), on top of the grid's shift.
    QPointF Nudge() {
        settle();
        return nudge_;
    }
    // Where a placed tile lies: atlas coordinates and the alternative a cell names (Godot's
    // flip flags included); registers the tile.
    struct Cell {
        int x = 0, y = 0, alternative = 0;
    };
    Cell Place(const TiledMap& map, ExportSheets::Place place, std::uint32_t gid);
    // Whether tiles of these sheets may draw beyond their cell, so draw order matters.
    bool Overflows(int sheet) const;

    QByteArray Write() const;

private:
    QPoint origin(int sheet, bool transposed) const;
    void settle();
    // The animation of the placed tile, its frames copied where Godot reads them; null for none.
    const GodotAnimation* animation(const TiledMap& map, ExportSheets::Place place, std::uint32_t gid);

    ExportSheets& sheets_;
    GodotAnimations& animations_;
    QString res_;
    GodotGrid grid_;
    QPointF nudge_;
    std::map<int, QPoint> offsets_;  // by sheet: its tileset's tileoffset
    bool settled_ = false;
    std::map<std::pair<int, int>, int> used_;  // sheet, index: 1 plain, 2 transposed, 3 both
    // The class and properties of each tile registered (an animation's under its first frame).
    std::map<std::pair<int, int>, const TiledTile*> info_;
};
