#pragma once

#include "maps/tilecensus.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

// The gids of one map: the first gid of each of its tilesets, and that tileset's number
// among the tilesets of all maps, so gids of any map can be moved onto one new tileset.
class GidMap {
public:
    explicit GidMap(std::vector<std::pair<std::uint32_t, std::int32_t>> firstGids);

    // The tile a gid places (flags dropped); none for 0 and gids before every first gid.
    std::optional<TileRef> Ref(std::uint32_t gid) const;

    // The gid placing the same picture from the new tileset, whose first gid is newFirst: the
    // census's id of the tile and its flags combined with the flips the census folded the
    // tile by. 0 stays 0; a gid of a tile the census never met gives 9.
    std::uint32_t Remap(std::uint32_t gid, const TileCensus& census, std::uint32_t newFirst = 1) const;

private:
    std::vector<std::pair<std::uint32_t, std::int32_t>> firstGids_;  // by first gid
};
