#include "maps/gidmap.h"

#include "runtime/limits.h"
#include "runtime/runtimeerror.h"

#include <algorithm>

GidMap::GidMap(std::vector<std::pair<std::uint32_t, std::int32_t>> firstGids) : firstGids_(std::move(firstGids)) {
    std::sort(firstGids_.begin(), firstGids_.end());
}

std::optional<TileRef> GidMap::Ref(std::uint32_t gid) const {
    const std::uint32_t bare = gid & ~GidFlag::All;
    const auto after = std::upper_bound(firstGids_.begin(), firstGids_.end(), bare,
                                        [](std::uint32_t value, const auto& entry) { return value < entry.first; });
    if (bare == 0 || after == firstGids_.begin()) {
        return std::nullopt;
    }
    const auto& [first, tileset] = *std::prev(after);
    return TileRef{tileset, static_cast<std::int32_t>(bare - first)};
}

std::uint32_t GidMap::Remap(std::uint32_t gid, const TileCensus& census, std::uint32_t newFirst) const {
    if ((gid & ~GidFlag::All) == 0) {
        return gid;
    }
    const auto ref = Ref(gid);
    const auto placement = ref ? census.Find(*ref) : std::nullopt;
    if (!placement) {
        throw RuntimeError(Err::SubscriptOutOfRange, QStringLiteral("gid %1 places no tile that was counted").arg(gid));
    }
    const std::uint32_t flips = CombinedFlips(placement->flips, gid & GidFlag::Flips);
    return (newFirst + static_cast<std::uint32_t>(placement->id)) | flips | (gid & GidFlag::Rotated120);
}
