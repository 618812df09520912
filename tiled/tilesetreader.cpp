#include "tiled/tilesetreader.h"

#include "imaging/picturefile.h"
#include "runtime/runtimeerror.h"
#include "tiled/tiledfiles.h"
#include "tiled/tiledvalues.h"
#include "sheets/tilegrid.h"


namespace {
[[noreturn]] void invalid(const QString& path, const QString& reason) {
    throw RuntimeError(Err::InvalidPicture, reason, path);
}
}  // namespace

TilesetReader::TilesetReader(const QString& tsxPath) : path_(tsxPath) {
    const TiledTileset tileset = LoadTileset(tsxPath);
    tile_ = tileset.tile;
    collection_ = tileset.IsCollection();
    margin_ = tileset.margin;
    spacing_ = tileset.spacing;
    columns_ = tileset.columns;
    count_ = tileset.tileCount;
    if (collection_) {
        // Ids 0 to n-1 with none missing: new tiles are appended after them.
        for (const auto& [id, tile] : tileset.tiles) {
            if (id != sources_.size()) {
                invalid(tsxPath, QStringLiteral("tile id %1 is missing").arg(sources_.size()));
            }
            if (tile.image.Empty()) {
                invalid(tsxPath, QStringLiteral("tile id %1 has no image").arg(id));
            }
            sources_ += tile.image.source;
        }
        count_ = static_cast<std::int32_t>(sources_.size());
    } else {
        sources_ = {tileset.image.source};
    }
}

std::vector<QImage> TilesetReader::LoadTiles() const {
    std::vector<QImage> tiles;
    auto check = [&](const QImage& tile, const QString& source) {
        if (tile.size() != tile_) {
            invalid(source, QStringLiteral("%1x%2, the tileset's tiles %3x%4")
                                .arg(tile.width()).arg(tile.height()).arg(tile_.width()).arg(tile_.height()));
        }
    };
    if (collection_) {
        for (const QString& source : sources_) {
            tiles.push_back(LoadPicture(source));
            check(tiles.back(), source);
        }
        return tiles;
    }
    const QImage sheet = LoadPicture(sources_[0]);
    CheckSheetHoldsATile(path_, sheet.size(), tile_, margin_);
    const TileGrid grid(tile_, margin_, spacing_);
    const QSize cells = grid.WholeCells(sheet.size());
    const int columns = std::min(columns_, cells.width());
    for (std::int32_t id = 0; id < count_ && columns > 0 && id / columns < cells.height(); ++id) {
        tiles.push_back(sheet.copy(grid.Cell(id % columns, id / columns)));
    }
    return tiles;
}
