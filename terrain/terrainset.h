#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>

#include <vector>

// How a template lays out its terrains: RPG Maker's A2 floor blocks (2 by 3 tiles each,
// side by side and row under row) or rows of five pieces (outer corners, sides, caps, inner
// corners, body), each five a terrain.
enum class TerrainLayout { A2, Quarters };

// The blob tiles of every terrain of a template: terrain t's 47 tiles are row t of the sheet,
// in the order of Blob's shapes, each quarter cut from the piece its neighbours call for.
class TerrainSet {
public:
    // The tile size taken when none is given: a lone block's or row's own, else RPG Maker MV's.
    static int DefaultTile(QSize picture, TerrainLayout layout);
    // Why the template cannot be cut with this tile size, or empty.
    static QString Problem(QSize picture, TerrainLayout layout, int tile);

    // The picture (any format) passed Problem; name names the terrains.
    TerrainSet(const QImage& picture, TerrainLayout layout, int tile, const QString& name);

    int Terrains() const { return static_cast<int>(colours_.size()); }
    int Tile() const { return tile_; }
    const QImage& Sheet() const { return sheet_; }
    int TileId(int terrain, int shape) const;
    // "NAME" for a lone terrain, else "NAME 1", "NAME 2", ...
    QString TerrainName(int terrain) const;
    // The body tile's colour, for the editors' terrain lists.
    QColor Colour(int terrain) const { return colours_[static_cast<std::size_t>(terrain)]; }

    // The demo: every terrain in every shape, each shape as a cell with exactly its
    // neighbours, in a patch of its own with an empty cell around; cells hold a terrain or -1.
    QSize DemoSize() const;
    std::vector<int> DemoCells() const;
    // The tile of the cell's terrain that its neighbours call for (outside counts as empty); -1 for an empty cell.
    int CellTile(const std::vector<int>& cells, QSize size, int x, int y) const;

private:
    int tile_;
    QString name_;
    QImage sheet_;
    std::vector<QColor> colours_;
};
