#include "tiled/tilesetreader.h"

#include "imaging/picturefile.h"
#include "runtime/runtimeerror.h"
#include "tiled/tiledfiles.h"
#include "tiled/tiledvalues.h"
#include "sheets/tilegrid.h"

#include <algorithm>
#include <numeric>


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

std::vector<QImage> TilesetReader::LoadTiles() const { return load(nullptr); }

std::vector<QImage> TilesetReader::LoadTiles(const std::vector<std::int32_t>& ids) const { return load(&ids); }

std::vector<QImage> TilesetReader::load(const std::vector<std::int32_t>* only) const {
    std::vector<QImage> tiles;
    auto check = [&](const QImage& tile, const QString& source) {
        if (tile.size() != tile_) {
            invalid(source, QStringLiteral("%1x%2, the tileset's tiles %3x%4")
                                .arg(tile.width()).arg(tile.height()).arg(tile_.width()).arg(tile_.height()));
        }
    };
    // The ids asked for, or every tile the tileset holds.
    const auto ids = [&](std::int64_t held) {
        std::vector<std::int32_t> all;
        if (only == nullptr) {
            all.resize(static_cast<std::size_t>(held));
            std::iota(all.begin(), all.end(), 0);
            return all;
        }
        for (const std::int32_t id : *only) {
            if (id < 0 || id >= held) {
                throw RuntimeError(Err::SubscriptOutOfRange,
                                   QStringLiteral("tile id %1 is not in the tileset of %2 tiles").arg(id).arg(held));
            }
        }
        return *only;
    };
    if (collection_) {
        for (const std::int32_t id : ids(sources_.size())) {
            const QString& source = sources_[id];
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
    const std::int64_t held = columns > 0 ? std::clamp<std::int64_t>(std::int64_t{columns} * cells.height(), 0, std::max(count_, 0)) : 0;
    for (const std::int32_t id : ids(held)) {
        tiles.push_back(sheet.copy(grid.Cell(id % columns, id / columns)));
    }
    return tiles;
}
