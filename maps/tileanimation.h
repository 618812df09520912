#pragma once

#include "tiled/tiledmodel.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

// Tile animations as Tiled plays them: every animation starts with its first frame at time 0
// and moves to the next frame once more than the frame's duration has passed (a frame of
// 0 ms is never left).

// The frame an animation shows at ms milliseconds.
int FrameAt(const std::vector<TiledFrame>& frames, std::int64_t ms);

// The gid each placed gid shows at one time: the current frame's tile, flips kept.
class TileFrames {
public:
    TileFrames(const TiledMap& map, std::int64_t ms);
    std::uint32_t operator()(std::uint32_t gid);

private:
    const TiledMap& map_;
    std::int64_t ms_;
    bool any_ = false;  // no animation at all: every gid shows itself
    std::unordered_map<std::uint32_t, std::uint32_t> shown_;
};

// The times an animated picture of the map changes at, over its shortest whole loop.
struct AnimationLoop {
    std::int64_t length = 0;           // ms; 0 where nothing placed is animated
    std::vector<std::int64_t> starts;  // 0 first, then every moment a placed tile changes
};

// Limits of an animated picture: its loop and its frames.
constexpr std::int64_t MaxLoopMs = 600000;
constexpr int MaxAnimationFrames = 1000;

// The loop of the animated tiles among gids: the least common multiple of their lengths,
// and the moments any of them shows another tile. 481 naming the map where the loop passes
// MaxLoopMs, the frames MaxAnimationFrames, or an animation has a frame of 0 ms.
AnimationLoop LoopOf(const TiledMap& map, const std::vector<std::uint32_t>& gids);
