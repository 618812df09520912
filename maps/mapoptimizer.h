#pragma once

#include "maps/gidmap.h"
#include "maps/joinedtileset.h"
#include "maps/tilecensus.h"
#include "tiled/tileddocument.h"
#include "tiled/tiledmodel.h"
#include "tiled/xmltree.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

// Tiles that one tileset cannot hold together: the map that places them, the tileset they
// come from and why.
struct TilesetMismatch : std::exception {
    TilesetMismatch(QString map, QString tileset, QString reason)
        : map(std::move(map)), tileset(std::move(tileset)), reason(std::move(reason)) {}
    QString map;
    QString tileset;
    QString reason;
    QString Reason() const { return QStringLiteral("tileset %1: %2").arg(tileset, reason); }
    const char* what() const noexcept override { return "tilesets differ"; }
};

// Maps of a game and the tilesets they use, read to find the tiles the maps place (tile
// layers, tile objects, the frames of the animated ones), each distinct tile once.
class MapOptimizer {
public:
    struct Counts {
        std::int64_t maps = 0;
        std::int64_t tilesBefore = 0;   // tiles of every input tileset
        std::int64_t sheetPixelsBefore = 0;
    };

    // Reads every map and tileset; a failure names its file. Tilesets whose tiles could not
    // share one sheet (sizes, offsets, object alignment) raise TilesetMismatch.
    MapOptimizer(const QStringList& maps, bool flips);

    const TileCensus& Census() const { return census_; }
    const Counts& Tally() const { return counts_; }
    // The maps as read, to be rewritten.
    std::vector<MapDocument>& Maps() { return maps_; }
    // Files read: every map and external tileset (absolute paths).
    QStringList Inputs() const;
    // The images of every input tileset and every file a map names: image layers' pictures,
    // templates, file properties (absolute paths).
    QStringList Images() const;

    // The gid on the new tileset (from gid 1) of a gid of map k.
    std::uint32_t NewGid(std::size_t map, std::uint32_t gid) const { return gids_[map].Remap(gid, census_); }
    // The new tileset's element tree.
    XmlNode Tileset(int columns, const QString& imageSource, QSize imageSize) const;

private:
    struct Input {
        std::shared_ptr<const TiledTileset> tileset;
        XmlNode element;
        QImage sheet;  // loaded when a tile of it is first used
    };
    QImage tilePicture(TileRef ref);
    void use(TileRef ref, const QString& map);

    std::vector<MapDocument> maps_;
    std::vector<GidMap> gids_;
    std::vector<Input> inputs_;
    std::unique_ptr<JoinedTileset> joined_;
    TileCensus census_;
    std::int32_t first_ = 0;  // the tileset of the first tile used
    Counts counts_;
    // Tiles drawn as tile objects of another width than height: a turned tile in their place
    // would be stretched the other way, so they are never turned (mirrors, which Tiled
    // applies to tile objects, still serve).
    std::set<std::pair<std::int32_t, std::int32_t>> upright_;
};
