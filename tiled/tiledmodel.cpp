#include "tiled/tiledmodel.h"

int TiledTileset::IdLimit() const {
    if (!IsCollection()) {
        return tileCount;
    }
    return tiles.empty() ? 0 : tiles.rbegin()->first + 1;
}

const TilesetRef* TiledMap::TilesetOf(std::uint32_t gid) const {
    const std::uint32_t tile = GidTile(gid);
    const TilesetRef* found = nullptr;
    for (const TilesetRef& ref : tilesets) {
        if (tile != 0 && ref.firstGid <= tile && (found == nullptr || ref.firstGid >= found->firstGid)) {
            found = &ref;
        }
    }
    return found;
}

std::optional<QString> TiledMap::Property(const QString& name) const {
    for (const TiledProperty& property : properties) {
        if (property.name == name) {
            return property.value;
        }
    }
    return std::nullopt;
}
