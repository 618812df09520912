#include "maps/tileanimation.h"

#include "tiled/tiledvalues.h"

#include <algorithm>
#include <numeric>
#include <set>

namespace {
const TiledTile* tileOf(const TiledMap& map, std::uint32_t gid, const TilesetRef** refOut) {
    const TilesetRef* ref = map.TilesetOf(gid);
    if (ref == nullptr) {
        return nullptr;
    }
    const auto found = ref->tileset->tiles.find(static_cast<int>(GidTile(gid) - ref->firstGid));
    *refOut = ref;
    return found == ref->tileset->tiles.end() ? nullptr : &found->second;
}
}  // namespace

int FrameAt(const std::vector<TiledFrame>& frames, std::int64_t ms) {
    if (frames.empty()) {
        return 0;
    }
    std::int64_t total = 0;
    bool stops = false;
    for (const TiledFrame& frame : frames) {
        total += frame.duration;
        stops = stops || frame.duration == 0;
    }
    // Whole loops drop out; a time on a loop's end still shows its last frame.
    if (!stops && ms > total) {
        ms = (ms - 1) % total + 1;
    }
    std::size_t k = 0;
    while (frames[k].duration > 0 && ms > frames[k].duration) {
        ms -= frames[k].duration;
        k = (k + 1) % frames.size();
    }
    return static_cast<int>(k);
}

TileFrames::TileFrames(const TiledMap& map, std::int64_t ms) : map_(map), ms_(ms) {
    for (const TilesetRef& ref : map.tilesets) {
        for (const auto& [id, tile] : ref.tileset->tiles) {
            any_ = any_ || !tile.animation.empty();
        }
    }
}

std::uint32_t TileFrames::operator()(std::uint32_t gid) {
    if (!any_ || GidTile(gid) == 0) {
        return gid;
    }
    const auto found = shown_.find(gid);
    if (found != shown_.end()) {
        return found->second;
    }
    std::uint32_t shown = gid;
    const TilesetRef* ref = nullptr;
    if (const TiledTile* tile = tileOf(map_, gid, &ref); tile != nullptr && !tile->animation.empty()) {
        const TiledFrame& frame = tile->animation[static_cast<std::size_t>(FrameAt(tile->animation, ms_))];
        // A frame past its tileset shows nothing, as Tiled shows no tile for it.
        const bool inTileset = frame.tileId < ref->tileset->IdLimit();
        shown = inTileset ? (ref->firstGid + static_cast<std::uint32_t>(frame.tileId)) | (gid & GidFlag::All) : 0;
    }
    shown_.emplace(gid, shown);
    return shown;
}

AnimationLoop LoopOf(const TiledMap& map, const std::vector<std::uint32_t>& gids) {
    std::set<const TiledTile*> animated;
    for (const std::uint32_t gid : gids) {
        const TilesetRef* ref = nullptr;
        const TiledTile* tile = tileOf(map, GidTile(gid), &ref);
        if (tile == nullptr || tile->animation.empty() || !animated.insert(tile).second) {
            continue;
        }
        for (const TiledFrame& frame : tile->animation) {
            if (frame.duration == 0) {
                InvalidMapFile(map.file, QStringLiteral("tile %1 of tileset \"%2\" has a frame of 0 ms, which Tiled never leaves: "
                                                        "the map does not loop").arg(tile->id).arg(ref->tileset->name));
            }
        }
    }
    AnimationLoop loop;
    QStringList lengths;
    for (const TiledTile* tile : animated) {
        std::int64_t total = 0;
        for (const TiledFrame& frame : tile->animation) {
            total += frame.duration;
        }
        lengths += QString::number(total);
        loop.length = loop.length == 0 ? total : std::lcm(loop.length, total);
        if (loop.length > MaxLoopMs) {
            InvalidMapFile(map.file, QStringLiteral("its animations (%1 ms long) loop only after more than %2 ms, the longest "
                                                    "animated picture made").arg(lengths.join(", ")).arg(MaxLoopMs));
        }
    }
    if (loop.length == 0) {
        return loop;
    }
    const auto tooMany = [&] {
        InvalidMapFile(map.file, QStringLiteral("its animations change more than %1 times in their loop of %2 ms, the most "
                                                "frames an animated picture is made of").arg(MaxAnimationFrames).arg(loop.length));
    };
    // Each distinct animation once: the moments it shows another tile within its own length
    // (that length first), repeated over the loop. The work follows the changes, however
    // many milliseconds the loop or its frames hold.
    std::set<std::vector<std::int64_t>> changes;
    for (const TiledTile* tile : animated) {
        const auto& frames = tile->animation;
        std::vector<std::int64_t> moments{0};
        for (std::size_t k = 0; k < frames.size(); ++k) {
            moments.front() += frames[k].duration;
            if (frames[(k + 1) % frames.size()].tileId != frames[k].tileId) {
                moments.push_back(moments.front());
            }
        }
        if (moments.size() > 1) {
            changes.insert(std::move(moments));
        }
    }
    std::set<std::int64_t> starts{0};
    for (const std::vector<std::int64_t>& moments : changes) {
        const std::int64_t length = moments.front();
        // Moments of one animation differ from each other, and from 0; the loop's end is no moment.
        const std::int64_t own = loop.length / length * static_cast<std::int64_t>(moments.size() - 1) - (moments.back() == length ? 1 : 0);
        if (own + 1 > MaxAnimationFrames) {
            tooMany();
        }
        for (std::int64_t from = 0; from < loop.length; from += length) {
            for (std::size_t k = 1; k < moments.size() && from + moments[k] < loop.length; ++k) {
                starts.insert(from + moments[k]);
            }
        }
        if (starts.size() > static_cast<std::size_t>(MaxAnimationFrames)) {
            tooMany();
        }
    }
    loop.starts.assign(starts.begin(), starts.end());
    return loop;
}
