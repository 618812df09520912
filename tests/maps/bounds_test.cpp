#include "support/testsupport.h"

#include "maps/maprenderer.h"
#include "maps/tileanimation.h"
#include "runtime/runtimeerror.h"
#include "tiled/tiledfiles.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>

namespace {

// The loop's moments as Tiled's clock shows them, a millisecond at a time: 0, and every
// moment after which some placed tile shows another tile.
std::vector<std::int64_t> changesByClock(const std::vector<std::vector<TiledFrame>>& animations, std::int64_t length) {
    std::vector<std::int64_t> starts{0};
    for (std::int64_t t = 1; t < length; ++t) {
        for (const auto& frames : animations) {
            if (frames[static_cast<std::size_t>(FrameAt(frames, t))].tileId != frames[static_cast<std::size_t>(FrameAt(frames, t + 1))].tileId) {
                starts.push_back(t);
                break;
            }
        }
    }
    return starts;
}

// Random animations, many with frames that repeat a tile and lengths that differ, give the
// moments the clock shows, or are refused where those are too many or the loop too long.
TEST(Bounds, LoopChangesAreThoseTheClockShows) {
    int looped = 0;
    for (unsigned seed = 1; seed <= 12; ++seed) {
        std::mt19937 random(seed);
        TiledMap map;
        map.file = "/maps/m.tmx";
        auto tileset = std::make_shared<TiledTileset>();
        tileset->tileCount = 40;
        std::vector<std::vector<TiledFrame>> animations;
        std::vector<std::uint32_t> gids;
        std::int64_t length = 1;
        for (int id = 0; id < 1 + static_cast<int>(seed % 4) * 2; ++id) {
            std::vector<TiledFrame> frames(1 + random() % 5);
            std::int64_t total = 0;
            for (TiledFrame& frame : frames) {
                frame = {static_cast<int>(random() % 3), static_cast<int>(1 + random() % 12)};
                total += frame.duration;
            }
            length = std::lcm(length, total);
            tileset->tiles[id].id = id;
            tileset->tiles[id].animation = frames;
            animations.push_back(frames);
            gids.push_back(static_cast<std::uint32_t>(1 + id));
        }
        map.tilesets.push_back({1, tileset, false});
        const std::vector<std::int64_t> clock = length <= MaxLoopMs ? changesByClock(animations, length) : std::vector<std::int64_t>{};
        const bool refused = length > MaxLoopMs || clock.size() > static_cast<std::size_t>(MaxAnimationFrames);
        try {
            const AnimationLoop loop = LoopOf(map, gids);
            EXPECT_FALSE(refused) << "seed " << seed;
            EXPECT_EQ(loop.length, length) << "seed " << seed;
            EXPECT_EQ(loop.starts, clock) << "seed " << seed;
            ++looped;
        } catch (const RuntimeError& failure) {
            EXPECT_TRUE(refused) << "seed " << seed << ": " << failure.Description().toStdString();
        }
    }
    EXPECT_GE(looped, 6);
}

// Hexagonal maps whose tiles are 1 pixel high have rows of none, where Tiled's walk never moves
// down: each is drawn (or refused for its empty picture) instead of running for ever.
TEST(Bounds, HexagonalRowsOfNoPixelsEnd) {
    TestFolder folder;
    QImage tile(8, 1, QImage::Format_ARGB32);
    tile.fill(qRgb(200, 40, 40));
    ASSERT_TRUE(tile.save(folder.File("t.png")));
    const struct {
        const char* axis;
        int side;
        int offsetY;  // a layer offset gives the picture rows
        bool drawn;
    } cases[] = {{"x", 3, 0, false}, {"x", 3, 4, true}, {"x", 4, 4, true}, {"y", 3, 4, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.axis) + " " + std::to_string(c.side) + " " + std::to_string(c.offsetY));
        WriteBytes(folder.File("m.tmx"),
                   QStringLiteral(R"(<map orientation="hexagonal" width="5" height="3" tilewidth="8" tileheight="1" hexsidelength="%1" staggeraxis="%2" staggerindex="odd">
 <tileset firstgid="1" name="t" tilewidth="8" tileheight="1" tilecount="1" columns="1"><image source="t.png" width="8" height="1"/></tileset>
 <layer id="1" name="L" width="5" height="3" offsety="%3"><data encoding="csv">1,1,1,1,1,1,1,1,1,1,1,1,1,1,1</data></layer>
</map>)").arg(c.side).arg(c.axis).arg(c.offsetY).toUtf8());
        const TiledMap map = LoadMap(folder.File("m.tmx"));
        try {
            MapRenderer renderer(map, {});
            const QImage drawn = renderer.Draw();
            EXPECT_TRUE(c.drawn);
            bool shown = false;
            for (int y = 0; y < drawn.height() && !shown; ++y) {
                for (int x = 0; x < drawn.width() && !shown; ++x) {
                    shown = drawn.pixel(x, y) == qRgb(200, 40, 40);
                }
            }
            EXPECT_TRUE(shown) << "no tile drawn";
        } catch (const RuntimeError& failure) {
            EXPECT_FALSE(c.drawn) << failure.Description().toStdString();
            EXPECT_EQ(failure.File(), map.file);
        }
    }
}

}  // namespace
