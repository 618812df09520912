#pragma once

#include "imaging/picturefile.h"
#include "sheets/tilegrid.h"
#include "tiled/tiledmodel.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

// The sheets that maps exported to a game engine draw from, since engines draw tile layers
// only from sheets: a tileset's sheet as it is (its tile ids its indices), an image
// collection packed into one sheet per tile size. A tileset several maps share, by file or
// as one embedded tileset (an LDtk project's levels), becomes one set of sheets. Tiles are
// kept as pictures so a writer may add more (LDtk's turned copies); the sheets are drawn with
// no margin or spacing, or extruded. A sheet written from its picture file's bytes is checked
// whole but cut into tiles only when a writer asks for one: decoding it took a fifth of an
// export's time.
class ExportSheets {
public:
    struct Sheet {
        QString name;       // the engine's tileset name, and the PNG's base name
        QSize tile;
        int columns = 0;
        int count = 0;  // tiles
        std::vector<const TiledTile*> info;  // each tile's class and properties, null for none
        // The picture file written as the sheet's PNG byte for byte: a plain PNG that is the
        // sheet cell for cell, not extruded, while nothing is added. Empty where it is drawn.
        QString whole;
    };
    // Where a gid's tile lies: a sheet and its index there; sheet -1 for none.
    struct Place {
        int sheet = -1;
        int index = 0;
    };

    explicit ExportSheets(int extrusion) : extrusion_(extrusion) {}

    // Adds the sheets of the tilesets whose tiles the map places; 481 naming a missing or
    // unreadable picture. The map must outlive this.
    void Gather(const TiledMap& map);
    Place Of(const TiledMap& map, std::uint32_t gid) const;
    // Every cell of the layer that places a tile of a sheet, chunk by chunk, row by row:
    // visit(cell, gid, place), the cell in the map's cells.
    template <typename Visit>
    void ForEachPlaced(const TiledMap& map, const TiledLayer& layer, Visit&& visit) const;
    // The sheets a tileset of a gathered map went to (none where the map places none of its tiles).
    std::vector<int> SheetsOf(const TiledTileset& tileset) const;
    // A tile's picture: RGBA8888, straight alpha, null for an empty cell. A sheet written from
    // its file's bytes is decoded for it.
    const QImage& Tile(int sheet, int index) const;
    // A tile added to the sheet; its index.
    int Append(int sheet, const QImage& tile);
    // A sheet of its own for tiles a writer draws and appends; its index. The name is made
    // unique among the sheets'.
    int AddSheet(const QString& name, QSize tile);

    const std::vector<Sheet>& Sheets() const { return sheets_; }
    // The grid an engine reads the sheet's PNG with.
    TileGrid Grid(int sheet) const;
    QSize SheetSize(int sheet) const;
    // The cells of the sheet's grid, its tiles and the empty cells after them.
    int Capacity(int sheet) const;
    QString FileName(int sheet) const { return sheets_[static_cast<std::size_t>(sheet)].name + ".png"; }
    // Names the sheet (and its file) anew: one of that name in the folder must stay.
    void Rename(int sheet, QString name) { sheets_[static_cast<std::size_t>(sheet)].name = std::move(name); }
    // The sheet as a PNG file: its picture file's bytes where they hold the sheet as it is,
    // else drawn (and extruded).
    QByteArray Png(int sheet) const;
    // Every picture file read.
    const QStringList& Inputs() const { return inputs_; }

private:
    int newSheet(const QString& name, QSize tile);
    struct Gathered;
    // owner: the file named where a sheet the map holds is no picture.
    void gatherSheet(const TiledTileset& tileset, const QString& owner, Gathered& into);
    void gatherCollection(const TiledTileset& tileset, Gathered& into);
    // The sheet's picture file decoded, the first time a tile of it is asked for.
    const QImage& picture(int sheet) const;
    // Tile k of the sheet as a view: of its picture, or of a tile kept whole.
    QImage view(int sheet, int k) const;

    int extrusion_;
    std::vector<Sheet> sheets_;
    // By sheet: a tileset sheet's picture file, whose own tiles are cut from it only when
    // asked for (a sheet may hold millions of small tiles where a map places a few), and the
    // tiles kept whole (a collection's, or those added after a sheet's own).
    struct Pictures {
        std::unique_ptr<PictureFile> file;
        QImage picture;  // decoded, with the trans colour cleared
        std::optional<QRgb> trans;
        TileGrid grid;
        int own = 0;                          // tiles of the picture, before the kept ones
        std::unordered_map<int, QImage> cut;  // of the picture, asked for so far
        std::vector<QImage> tiles;            // kept whole
    };
    mutable std::vector<Pictures> pictures_;
    QStringList inputs_;
    // The sheets of a tileset, by its file (or the tileset itself, when embedded), and which
    // sheet each local id went to.
    struct Gathered {
        std::vector<int> sheets;
        std::map<int, Place> places;  // a collection's
        int sheet = -1;               // a tileset sheet's: its ids are the indices
    };
    std::map<QString, Gathered> byFile_;
    std::map<const TiledTileset*, Gathered> byObject_;
    std::map<const TiledTileset*, const Gathered*> byTileset_;
};

template <typename Visit>
void ExportSheets::ForEachPlaced(const TiledMap& map, const TiledLayer& layer, Visit&& visit) const {
    // A map places few distinct tiles in many cells; looking each one up took a big map's time.
    std::unordered_map<std::uint32_t, Place> known;
    for (const TiledChunk& chunk : layer.chunks) {
        std::size_t k = 0;
        for (int y = 0; y < chunk.area.height(); ++y) {
            for (int x = 0; x < chunk.area.width(); ++x, ++k) {
                const std::uint32_t gid = chunk.gids[k];
                if (gid == 0) {
                    continue;
                }
                auto found = known.find(GidTile(gid));
                if (found == known.end()) {
                    found = known.emplace(GidTile(gid), Of(map, gid)).first;
                }
                if (found->second.sheet >= 0) {
                    visit(QPoint(chunk.area.x() + x, chunk.area.y() + y), gid, found->second);
                }
            }
        }
    }
}

// A picture with straight alpha as RGBA8888, the tileset's trans colour cleared.
QImage StraightPicture(const QImage& decoded, std::optional<QRgb> trans);
