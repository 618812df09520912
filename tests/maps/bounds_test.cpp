#include "support/testsupport.h"

#include "maps/maprenderer.h"
#include "runtime/runtimeerror.h"
#include "tiled/tiledfiles.h"

#include <gtest/gtest.h>


namespace {

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
