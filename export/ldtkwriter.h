#pragma once

#include "export/exportcounts.h"
#include "export/exportsheets.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <map>
#include <vector>

// Maps as one LDtk 1.5 project: a level per map, a tileset definition per sheet, a Tiles
// layer per tile layer (split per sheet, since an LDtk layer draws from one tileset), listed
// top-most first as LDtk lists them. Groups are flattened: offsets add up, opacities
// multiply, a hidden group hides its layers. LDtk holds only square tiles of the layer's
// grid and only X and Y flips, so a diagonal flip is drawn from a transposed copy of the
// tile added to its sheet. Objects and image layers are left out and counted.
// Why LDtk cannot hold the map's tile layers (naming the tileset), or empty.
QString LdtkRefusal(const TiledMap& map, const ExportSheets& sheets);

class LdtkWriter {
public:
    explicit LdtkWriter(ExportSheets& sheets) : sheets_(sheets) {}

    // Adds the map as the next level (LdtkRefusal found nothing in it).
    void Level(const TiledMap& map, const QString& name, ExportCounts& counts);
    // After every level: the project.
    QByteArray Project() const;

private:
    struct Tile {
        int x = 0, y = 0;  // cell
        int sheet = -1;    // -1 for no tileset (a layer that places nothing)
        int index = 0;
        int flips = 0;  // LDtk's f: 1 X, 2 Y
    };
    struct Instance {
        bool visible = true;
        QPoint offset;
        std::vector<Tile> tiles;
    };
    struct LayerDef {
        QString identifier;
        int grid = 0;
        int sheet = -1;
        double opacity = 1;
    };
    struct LevelData {
        QString identifier;
        QSize pixels;
        int grid = 0;
        QString background;
        std::map<int, Instance> instances;  // by layer definition
    };

    int defFor(const QString& name, int grid, int sheet, double opacity);
    int transposed(int sheet, int index);
    QJsonObject instanceJson(const LevelData& level, int levelUid, int def, const QString& name, const Instance& instance) const;

    ExportSheets& sheets_;
    std::vector<LayerDef> defs_;
    std::vector<int> order_;  // layer definitions, top-most first
    std::vector<LevelData> levels_;
    std::map<std::pair<int, int>, int> transposed_;  // sheet and index to the copy's index
};
