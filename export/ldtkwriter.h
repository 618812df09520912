#pragma once

#include "export/exportcounts.h"
#include "export/exportsheets.h"
#include "export/ldtkentities.h"
#include "export/ldtkfields.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <map>
#include <set>
#include <tuple>
#include <vector>

// Maps as one LDtk 1.5 project: a level per map, a tileset definition per sheet, a Tiles
// layer per tile layer (split per sheet, since an LDtk layer draws from one tileset) and an
// Entities layer per object layer, listed top-most first as LDtk lists them. Groups are
// flattened: offsets add up, opacities multiply, a hidden group hides its layers; a tileset's
// tile offset moves the layer part of its sheet. LDtk holds only square tiles of the layer's
// grid and only X and Y flips, so a diagonal flip is drawn from a transposed copy of the tile
// added to its sheet (a tile object's every flip, as entities do not flip). Map properties become level fields, tile properties the tileset's
// custom data (a JSON object per tile), tile classes its tags from one enum. Image layers,
// tints, blend modes, animations and collision shapes are counted as left out.

// Why LDtk cannot hold the map as the next level, placed at worldX in the project's world
// (the tileset or what is out of LDtk's 32-bit range named), or empty; worldX then moves past it.
QString LdtkRefusal(const TiledMap& map, const ExportSheets& sheets, std::int64_t& worldX);

class LdtkWriter {
public:
    // folder: the project's, which file properties are made relative to.
    LdtkWriter(ExportSheets& sheets, const QString& folder) : sheets_(sheets), folder_(folder) {}

    // Adds the map as the next level (LdtkRefusal found nothing in it).
    void Level(const TiledMap& map, const QString& name, ExportCounts& counts);
    // After every level: the project.
    QByteArray Project(ExportCounts& counts);

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
        std::vector<LdtkEntities::Entity> entities;
    };
    struct LayerDef {
        QString identifier;
        int grid = 0;
        int sheet = -1;
        double opacity = 1;
        bool entities = false;
    };
    struct LevelData {
        QString identifier;
        QSize pixels;
        int grid = 0;
        QString background;
        QString folder;  // the map's, which its file properties are relative to
        std::vector<TiledProperty> properties;
        std::map<int, Instance> instances;  // by layer definition
    };

    int defFor(const LayerDef& wanted);
    int variant(int sheet, int index, std::uint32_t flips);
    Instance entities(const TiledMap& map, const TiledLayer& layer, ExportCounts& counts);
    QJsonObject instanceJson(const LevelData& level, int levelUid, int def, const QString& name, const Instance& instance,
                             QPoint world, const LdtkFields::Context& context, int& entity) const;
    // The tile's number in LDtk's own reading of its sheet.
    int ldtkTileId(int sheet, int index) const;
    // classes: each tile class and its enum value.
    QJsonObject tilesetJson(int sheet, const std::vector<std::pair<QString, QString>>& classes, int enumUid,
                            std::set<QString>& taken) const;

    ExportSheets& sheets_;
    QString folder_;
    std::vector<LayerDef> defs_;
    std::vector<int> order_;  // layer definitions, top-most first
    std::vector<LevelData> levels_;
    std::map<std::tuple<int, int, std::uint32_t>, int> variants_;  // sheet, index and flips to the copy's index
    LdtkEntities entities_;
    LdtkFields levelFields_;
    std::set<const TiledTileset*> tilesetsSeen_;
};
