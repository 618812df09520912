#include "support/testsupport.h"
#include "tiledpictures.h"
#include "tilvexrun.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QPainter>

namespace {

QString gidsCsv(QSize cells, const std::function<std::uint32_t(int, int)>& gid) {
    QStringList rows;
    for (int y = 0; y < cells.height(); ++y) {
        QStringList row;
        for (int x = 0; x < cells.width(); ++x) {
            row << QString::number(gid(x, y));
        }
        rows << row.join(',');
    }
    return rows.join(",\n");
}

struct Layout {
    const char* name;
    const char* orientation;
    QString extra;  // stagger, side length, skew
    QSize grid;
    QSize tile;     // the tileset's tiles, taller or wider than the grid
    QPoint offset;  // the tileset's tile offset
    bool turns;     // diagonal flips (60-degree turns on hexagonal maps)
};

// A map of every kind of placement: every cell of a layer flipped, a group with an offset
// and half opacity holding sparse tiles, and tile objects scaled and turned.
QByteArray mapOf(const TestFolder& folder, const Layout& l, QSize cells) {
    noise(QSize(4 * l.tile.width(), 3 * l.tile.height()), 5).save(folder.File("sheet.png"));
    const std::uint32_t flips[4] = {0, 0x80000000u, 0x40000000u, 0xC0000000u};
    const QString ground = gidsCsv(cells, [&](int x, int y) {
        return (1 + (x + 3 * y) % 12) | flips[(x * 5 + y) % 4] | (l.turns && (x + y) % 3 == 0 ? 0x20000000u : 0u);
    });
    const QString over = gidsCsv(cells, [&](int x, int y) { return (x * y) % 4 == 1 ? 5u | flips[x % 4] : 0u; });
    return QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<map version="1.8" orientation="%1" renderorder="right-down" width="%2" height="%3" tilewidth="%4" tileheight="%5" %6 infinite="0" nextlayerid="5" nextobjectid="3">
 <tileset firstgid="1" name="sheet" tilewidth="%7" tileheight="%8" tilecount="12" columns="4">
  <tileoffset x="%9" y="%10"/>
  <image source="sheet.png" width="%11" height="%12"/>
 </tileset>
 <layer id="1" name="ground" width="%2" height="%3"><data encoding="csv">%13</data></layer>
 <group id="2" name="upper" offsetx="5" offsety="-3" opacity="0.5">
  <layer id="3" name="over" width="%2" height="%3"><data encoding="csv">%14</data></layer>
 </group>
 <objectgroup id="4" name="things">
  <object id="1" gid="3" x="40" y="48" width="%7" height="%8"/>
  <object id="2" gid="2147483655" x="20" y="30" width="%7" height="%8" rotation="90"/>
 </objectgroup>
</map>
)")
        .arg(l.orientation).arg(cells.width()).arg(cells.height()).arg(l.grid.width()).arg(l.grid.height()).arg(l.extra)
        .arg(l.tile.width()).arg(l.tile.height()).arg(l.offset.x()).arg(l.offset.y())
        .arg(4 * l.tile.width()).arg(3 * l.tile.height()).arg(ground, over)
        .toUtf8();
}

TEST(Orientations, MapsOfEveryOrientationDrawAsTmxrasterizer) {
    if (tiledTool("tmxrasterizer").isEmpty()) {
        GTEST_SKIP() << "tmxrasterizer (Debian package tiled) is not installed";
    }
    const Layout layouts[] = {
        {"isometric, tall tiles", "isometric", "", {32, 16}, {32, 40}, {0, 4}, true},
        {"isometric, odd widths", "isometric", "", {31, 16}, {31, 33}, {-1, 2}, true},
        {"staggered y odd", "staggered", R"(staggeraxis="y" staggerindex="odd")", {32, 16}, {32, 36}, {2, -3}, true},
        {"staggered y even", "staggered", R"(staggeraxis="y" staggerindex="even")", {32, 16}, {32, 32}, {0, 0}, true},
        {"staggered x odd", "staggered", R"(staggeraxis="x" staggerindex="odd")", {32, 16}, {40, 24}, {0, 3}, true},
        {"staggered x even", "staggered", R"(staggeraxis="x" staggerindex="even")", {32, 16}, {32, 16}, {-2, 0}, true},
        {"hexagonal y odd, even side", "hexagonal", R"(staggeraxis="y" staggerindex="odd" hexsidelength="8")", {28, 24}, {28, 30}, {0, 2}, false},
        {"hexagonal y even, odd side", "hexagonal", R"(staggeraxis="y" staggerindex="even" hexsidelength="7")", {27, 23}, {27, 23}, {1, 0}, false},
        {"hexagonal x odd, odd side", "hexagonal", R"(staggeraxis="x" staggerindex="odd" hexsidelength="9")", {24, 28}, {26, 28}, {0, -2}, false},
        {"hexagonal x even, even side", "hexagonal", R"(staggeraxis="x" staggerindex="even" hexsidelength="10")", {24, 28}, {24, 28}, {0, 0}, false},
    };
    for (const Layout& layout : layouts) {
        TestFolder folder;
        const TilvexProgram program(folder);
        const QString map = folder.File("m.tmx");
        WriteBytes(map, mapOf(folder, layout, QSize(7, 6)));
        const TilvexResult run = program.Run({"compile", "--map", map, folder.File("ours.png")});
        ASSERT_EQ(run.status, 0) << layout.name << run.err.toStdString();
        const TilvexResult info = program.Run({"info", map});
        EXPECT_TRUE(info.out.startsWith(QStringLiteral("%1\tmap\t%2").arg(map, layout.orientation))) << info.out.toStdString();
        ASSERT_EQ(runTool(tiledTool("tmxrasterizer"), {"--no-smoothing", map, folder.File("theirs.png")}).status, 0);
        const Difference d = difference(QImage(folder.File("ours.png")), QImage(folder.File("theirs.png")));
        // Half-opaque tiles are blended within 2 of Tiled.
        EXPECT_EQ(d.beyond2, 0) << layout.name << ": " << d.pixels << " differ, first " << d.first.toStdString();
    }
}

// The samples Debian's tiled installs. Tiles turned by 60 or 120 degrees are sampled by Qt
// along their slanted edges slightly apart: a few pixels of a hexagon's rim.
TEST(Orientations, TiledsSamplesDrawAsTmxrasterizer) {
    TestFolder folder;
    if (copiedTiledSamples(folder, "ex").isEmpty()) {
        GTEST_SKIP() << "tmxrasterizer and the samples of the Debian package tiled are not installed";
    }
    const TilvexProgram program(folder);
    const std::pair<const char*, int> maps[] = {{"isometric_grass_and_water.tmx", 0}, {"isometric_staggered_grass_and_water.tmx", 0},
                                                {"hexagonal-mini.tmx", 0}, {"test_hexagonal_tile_60x60x30.tmx", 40}};
    for (const auto& [name, rim] : maps) {
        const QString map = folder.File(QStringLiteral("ex/%1").arg(name));
        const TilvexResult run = program.Run({"compile", "--map", map, map + ".png"});
        ASSERT_EQ(run.status, 0) << name << run.err.toStdString();
        ASSERT_EQ(runTool(tiledTool("tmxrasterizer"), {"--no-smoothing", map, map + ".ref.png"}).status, 0);
        const Difference d = difference(QImage(map + ".png"), QImage(map + ".ref.png"));
        EXPECT_LE(d.beyond2, rim) << name << ": " << d.pixels << " differ, first " << d.first.toStdString();
    }
}

// Tiled 1.8 cannot draw oblique maps: the picture is built here from the rule instead.
// Each cell's tile stands upright at its sheared bottom-left corner (x*w + skewx*(y+1),
// (y+1)*h + skewy*x), and the picture is the sheared map's bounding box.
TEST(Orientations, ObliqueMapsShearTheGridAndKeepTilesUpright) {
    const struct {
        int skewX, skewY;
    } skews[] = {{8, 0}, {0, 4}, {-6, 3}, {5, -7}};
    for (const auto& skew : skews) {
        TestFolder folder;
        const TilvexProgram program(folder);
        const QSize tile(16, 12), cells(3, 2);
        const QImage sheet = noise(QSize(4 * tile.width(), tile.height()), 9);
        sheet.save(folder.File("sheet.png"));
        const QString csv = gidsCsv(cells, [](int x, int y) { return static_cast<std::uint32_t>(1 + (x + 2 * y) % 4); });
        WriteBytes(folder.File("m.tmx"), QStringLiteral(R"(<map version="1.12" orientation="oblique" renderorder="right-down" width="3" height="2" tilewidth="16" tileheight="12" skewx="%1" skewy="%2">
 <tileset firstgid="1" name="s" tilewidth="16" tileheight="12" tilecount="4" columns="4"><image source="sheet.png" width="64" height="12"/></tileset>
 <layer id="1" name="l" width="3" height="2"><data encoding="csv">%3</data></layer>
</map>)").arg(skew.skewX).arg(skew.skewY).arg(csv).toUtf8());
        int minX = 0, minY = 0, maxX = 0, maxY = 0;
        for (const QPoint corner : {QPoint(0, 0), QPoint(3, 0), QPoint(0, 2), QPoint(3, 2)}) {
            const int x = corner.x() * tile.width() + skew.skewX * corner.y(), y = corner.y() * tile.height() + skew.skewY * corner.x();
            minX = std::min(minX, x), minY = std::min(minY, y), maxX = std::max(maxX, x), maxY = std::max(maxY, y);
        }
        QImage expected(maxX - minX, maxY - minY, QImage::Format_ARGB32);
        expected.fill(0);
        for (int y = 0; y < cells.height(); ++y) {
            for (int x = 0; x < cells.width(); ++x) {
                const QImage piece = sheet.copy((x + 2 * y) % 4 * tile.width(), 0, tile.width(), tile.height());
                const int left = x * tile.width() + skew.skewX * (y + 1) - minX;
                const int bottom = (y + 1) * tile.height() + skew.skewY * x - minY;
                for (int py = 0; py < tile.height(); ++py) {
                    for (int px = 0; px < tile.width(); ++px) {
                        if (expected.rect().contains(left + px, bottom - tile.height() + py)) {
                            expected.setPixel(left + px, bottom - tile.height() + py, piece.pixel(px, py));
                        }
                    }
                }
            }
        }
        const TilvexResult run = program.Run({"compile", "--map", folder.File("m.tmx"), folder.File("ours.png")});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        const Difference d = difference(QImage(folder.File("ours.png")), expected);
        EXPECT_EQ(d.most, 0) << skew.skewX << "," << skew.skewY << ": " << d.pixels << " differ, first " << d.first.toStdString();
    }
}

}  // namespace

namespace {

// tmxrasterizer's options under their names. Smoothing blends pixels and anti-aliasing
// softens scaled tiles' edges a little apart from Tiled's Qt 5 (measured: up to 6 per
// channel smoothed; a few thousand edge pixels of 400 thousand anti-aliased and scaled).
TEST(Orientations, TmxrasterizersOptionsDrawAsItDoes) {
    const QString examples = "/usr/share/doc/tiled/examples";
    if (tiledTool("tmxrasterizer").isEmpty() || !QFileInfo::exists(examples)) {
        GTEST_SKIP() << "tmxrasterizer and the samples of the Debian package tiled are not installed";
    }
    TestFolder folder;
    const TilvexProgram program(folder);
    const QString map = folder.File("iso.tmx");
    QByteArray text = ReadBytes(examples + "/isometric_grass_and_water.tmx");
    ASSERT_TRUE(QFile::copy(examples + "/isometric_grass_and_water.png", folder.File("isometric_grass_and_water.png")));
    // A second, hidden layer of other tiles over the first, to choose between.
    const int end = text.indexOf("</layer>") + 8;
    const int start = text.indexOf("<layer");
    QByteArray second = text.mid(start, end - start);
    second.replace("id=\"1\" name=\"Tile Layer 1\"", "id=\"2\" name=\"Top\" visible=\"0\"").replace(",1,", ",0,").replace(",2,", ",0,");
    text.insert(end, "\n" + second);
    WriteBytes(map, text);
    const struct {
        QStringList ours;
        QStringList theirs;
        int edges;  // pixels more than 2 apart
        int most;   // at most this far apart anywhere
    } cases[] = {
        {{"--scale", "0.5"}, {"--no-smoothing", "--scale", "0.5"}, 0, 2},
        {{"--scale", "1.7"}, {"--no-smoothing", "--scale", "1.7"}, 0, 2},
        {{"--tilesize", "20"}, {"--no-smoothing", "--tilesize", "20"}, 0, 2},
        {{"--size", "300"}, {"--no-smoothing", "--size", "300"}, 0, 2},
        {{"--ignore-visibility"}, {"--no-smoothing", "--ignore-visibility"}, 0, 2},
        {{"--hidden", "--hide-layer", "tile layer 1"}, {"--no-smoothing", "--ignore-visibility", "--hide-layer", "Tile Layer 1"}, 0, 2},
        {{"--show-layer", "Top", "--ignore-visibility"}, {"--no-smoothing", "--show-layer", "Top", "--ignore-visibility"}, 0, 2},
        {{"--anti-aliasing"}, {"--no-smoothing", "--anti-aliasing"}, 0, 2},
        {{"--anti-aliasing", "--scale", "0.7"}, {"--no-smoothing", "--anti-aliasing", "--scale", "0.7"}, 4000, 255},
        {{"--smoothing", "--scale", "0.6"}, {"--scale", "0.6"}, 20000, 8},
    };
    for (const auto& c : cases) {
        const TilvexResult run = program.Run(QStringList{"compile", "--map", map, folder.File("ours.png")} + c.ours);
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        ASSERT_EQ(runTool(tiledTool("tmxrasterizer"), c.theirs + QStringList{map, folder.File("theirs.png")}).status, 0);
        const Difference d = difference(QImage(folder.File("ours.png")), QImage(folder.File("theirs.png")));
        EXPECT_LE(d.beyond2, c.edges) << c.ours.join(' ').toStdString() << ": " << d.pixels << " differ, first " << d.first.toStdString();
        EXPECT_LE(d.most, c.most) << c.ours.join(' ').toStdString() << ": " << d.first.toStdString();
    }
    const struct {
        QStringList arguments;
        const char* says;
    } refused[] = {{{"--scale", "0"}, "--scale 0"}, {{"--size", "-4"}, "--size"}, {{"--tilesize", "x"}, "--tilesize x"}};
    for (const auto& r : refused) {
        const TilvexResult run = program.Run(QStringList{"compile", "--map", map, folder.File("no.png")} + r.arguments);
        EXPECT_NE(run.status, 0);
        EXPECT_TRUE(run.err.contains(r.says)) << run.err.toStdString();
    }
}

}  // namespace
