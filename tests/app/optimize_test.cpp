#include "support/testsupport.h"
#include "tilvexrun.h"

#include "tiled/tiledfiles.h"
#include "sheets/tileindex.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QStandardPaths>

namespace {

// An 8 by 8 opaque tile that no turn or mirror of another pattern equals.
QImage pattern(int n) {
    QImage tile(8, 8, QImage::Format_RGBA8888);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            tile.setPixelColor(x, y, QColor((x * 31 + n * 23) % 256, (y * 29 + n * 61) % 256, (x * y * 7 + n * 41) % 256));
        }
    }
    return tile;
}

// Tiles side by side on a sheet with a margin and spacing of 1.
void writeSheet(const QString& path, const std::vector<QImage>& tiles, int columns) {
    const int rows = (static_cast<int>(tiles.size()) + columns - 1) / columns;
    QImage sheet(2 + columns * 9 - 1, 2 + rows * 9 - 1, QImage::Format_RGBA8888);
    sheet.fill(Qt::transparent);
    for (std::size_t k = 0; k < tiles.size(); ++k) {
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                sheet.setPixel(1 + static_cast<int>(k % columns) * 9 + x, 1 + static_cast<int>(k / columns) * 9 + y,
                               tiles[k].pixel(x, y));
            }
        }
    }
    ASSERT_TRUE(sheet.save(path, "PNG"));
}

QString zlibData(const std::vector<std::uint32_t>& gids) {
    QByteArray bytes;
    for (const std::uint32_t gid : gids) {
        for (int b = 0; b < 4; ++b) {
            bytes += static_cast<char>((gid >> (8 * b)) & 0xFF);
        }
    }
    return QString::fromLatin1(qCompress(bytes).mid(4).toBase64());  // qCompress puts the length first
}

using namespace GidFlag;

// Two maps and a Tiled re-save of one in JSON over three tilesets: an external sheet with a
// property, an animation, collision shapes, a wang set and a mirrored copy; one embedded in
// the first map with a duplicate, a look-alike without the property and a turned copy; an
// image collection. Each has tiles no map uses.
struct Game {
    explicit Game(const TestFolder& folder) : root(folder.Path()) {
        QDir(root).mkpath("maps");
        QDir(root).mkpath("art");
        const QImage p0 = pattern(0);
        writeSheet(root + "/art/terrain.png",
                   {p0, pattern(1), pattern(2), pattern(3), pattern(4), pattern(5), pattern(6), p0.mirrored(true, false)}, 4);
        writeSheet(root + "/art/props.png", {pattern(6), pattern(1), OrientedTile(pattern(6), Diagonal | Horizontal), pattern(7)},
                   4);
        EXPECT_TRUE(pattern(8).save(root + "/art/item0.png"));
        EXPECT_TRUE(pattern(9).save(root + "/art/item5.png"));
        EXPECT_TRUE(pattern(10).save(root + "/art/sky.png"));
        WriteBytes(root + "/maps/terrain.tsx", R"(<?xml version="1.0" encoding="UTF-8"?>
<tileset version="1.8" tiledversion="1.8.2" name="terrain" tilewidth="8" tileheight="8" spacing="1" margin="1" tilecount="8" columns="4">
 <properties>
  <property name="biome" value="grass"/>
 </properties>
 <image source="../art/terrain.png" width="37" height="19"/>
 <tile id="1">
  <properties>
   <property name="solid" type="bool" value="true"/>
  </properties>
 </tile>
 <tile id="2">
  <animation>
   <frame tileid="2" duration="100"/>
   <frame tileid="3" duration="150"/>
  </animation>
 </tile>
 <tile id="4">
  <objectgroup draworder="index" id="2">
   <object id="1" x="1" y="2" width="5" height="4"/>
  </objectgroup>
 </tile>
 <wangsets>
  <wangset name="paths" type="corner" tile="6">
   <wangcolor name="dirt" color="#ff0000" tile="5" probability="1"/>
   <wangtile tileid="0" wangid="0,1,0,1,0,1,0,1"/>
   <wangtile tileid="5" wangid="0,1,0,0,0,1,0,0"/>
   <wangtile tileid="6" wangid="0,0,0,1,0,0,0,1"/>
  </wangset>
 </wangsets>
</tileset>
)");
        WriteBytes(root + "/maps/items.tsx", R"(<?xml version="1.0" encoding="UTF-8"?>
<tileset version="1.8" tiledversion="1.8.2" name="items" tilewidth="8" tileheight="8" tilecount="2" columns="0">
 <grid orientation="orthogonal" width="1" height="1"/>
 <tile id="0">
  <image width="8" height="8" source="../art/item0.png"/>
 </tile>
 <tile id="5">
  <image width="8" height="8" source="../art/item5.png"/>
 </tile>
</tileset>
)");
        const auto header = [](int width, int height) {
            return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<map version=\"1.8\" tiledversion=\"1.8.2\" "
                                  "orientation=\"orthogonal\" renderorder=\"right-down\" width=\"%1\" height=\"%2\" "
                                  "tilewidth=\"8\" tileheight=\"8\" infinite=\"0\" nextlayerid=\"9\" nextobjectid=\"9\">\n")
                .arg(width)
                .arg(height);
        };
        const QString one = header(4, 3) + QStringLiteral(R"( <properties>
  <property name="title" value="one"/>
  <property name="music" type="file" value="../art/item5.png"/>
 </properties>
 <tileset firstgid="1" source="terrain.tsx"/>
 <tileset firstgid="9" name="props" tilewidth="8" tileheight="8" spacing="1" margin="1" tilecount="4" columns="4">
  <properties>
   <property name="layer" value="props"/>
  </properties>
  <image source="../art/props.png" width="37" height="10"/>
 </tileset>
 <tileset firstgid="13" source="items.tsx"/>
 <imagelayer id="1" name="sky">
  <image source="../art/sky.png" width="8" height="8"/>
 </imagelayer>
 <layer id="2" name="ground" width="4" height="3">
  <data encoding="csv">
1,%1,3,7,
8,9,10,%2,
%7,%8,%3,%4
</data>
 </layer>
 <group id="3" name="upper">
  <layer id="4" name="deco" width="4" height="3" opacity="1">
   <data encoding="base64" compression="zlib">
   %5
  </data>
  </layer>
 </group>
 <objectgroup id="5" name="things">
  <object id="1" name="coin" gid="%6" x="16" y="24" width="8" height="8">
   <properties>
    <property name="value" type="int" value="5"/>
   </properties>
  </object>
  <object id="2" name="zone" x="1" y="1" width="10" height="4"/>
 </objectgroup>
</map>
)")
                                .arg(2 | Horizontal)
                                .arg(11 | Vertical)
                                .arg(1 | Diagonal)
                                .arg(7 | Horizontal)
                                .arg(zlibData({0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 5 | Horizontal, 0}))
                                .arg(13 | Horizontal)
                                .arg(8 | Diagonal)
                                .arg(11 | Diagonal | Horizontal);
        WriteBytes(root + "/maps/one.tmx", one.toUtf8());
        const QString two = header(2, 2) + QStringLiteral(R"( <properties>
  <property name="next" type="file" value="one.tmx"/>
 </properties>
 <tileset firstgid="1" source="terrain.tsx"/>
 <layer id="1" name="ground" width="2" height="2">
  <data encoding="csv">
1,2,
%1,7
</data>
 </layer>
</map>
)")
                                               .arg(8 | Horizontal | Vertical);
        WriteBytes(root + "/maps/two.tmx", two.toUtf8());
    }

    QStringList Maps() const { return {root + "/maps/one.tmx", root + "/maps/two.tmx", root + "/maps/three.tmj"}; }
    QString root;
};

TilvexResult runTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(120000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

// tmxrasterizer's picture of the map.
QImage rasterized(const QString& map, const QString& png) {
    const TilvexResult run = runTool("tmxrasterizer", {"--no-smoothing", map, png});
    EXPECT_EQ(run.status, 0) << map.toStdString() << ": " << run.err.toStdString();
    return QImage(png).convertToFormat(QImage::Format_ARGB32);
}

// Rewritten maps draw as before in Tiled's own renderer and in ours, and Tiled opens each of
// them and the new tileset.
void expectSameDrawings(const TilvexProgram& program, const QStringList& maps, const QString& out) {
    for (const QString& map : maps) {
        SCOPED_TRACE(map.toStdString());
        const QString name = QFileInfo(map).fileName();
        const QImage before = rasterized(map, out + "/../before-" + name + ".png");
        const QImage after = rasterized(out + "/" + name, out + "/../after-" + name + ".png");
        ASSERT_FALSE(before.isNull());
        EXPECT_EQ(before, after);
        QImage drawn[2];
        const QString sources[2] = {map, out + "/" + name};
        for (int k = 0; k < 2; ++k) {
            const QString png = out + QStringLiteral("/../compiled%1-").arg(k) + name + ".png";
            const TilvexResult run = program.Run({"compile", "--map", sources[k], png, "--quiet"});
            EXPECT_EQ(run.status, 0) << run.err.toStdString();
            drawn[k] = QImage(png);
        }
        EXPECT_FALSE(drawn[0].isNull());
        EXPECT_EQ(drawn[0], drawn[1]);
        EXPECT_EQ(runTool("tiled", {"--export-map", out + "/" + name, out + "/../exported-" + name}).status, 0);
    }
    EXPECT_EQ(runTool("tiled", {"--export-tileset", out + "/tileset.tsx", out + "/../exported.tsx"}).status, 0);
}

bool tiledTools() {
    return !QStandardPaths::findExecutable("tmxrasterizer").isEmpty() && !QStandardPaths::findExecutable("tiled").isEmpty();
}

TEST(Optimize, OneTilesetOfTheDistinctUsedTilesAndMapsThatDrawAsBefore) {
    if (!tiledTools()) {
        GTEST_SKIP() << "tmxrasterizer and tiled (Debian package tiled) are not installed";
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TestFolder folder;
    const Game game(folder);
    ASSERT_EQ(runTool("tiled", {"--export-map", "json", game.root + "/maps/two.tmx", game.root + "/maps/three.tmj"}).status, 0);
    const TilvexProgram program(folder);

    const struct {
        bool flips;
        int extrude;
        const char* summary;
        std::vector<int> patterns;  // pattern of each new tile
    } cases[] = {
        {true, 0, "3 maps read; tiles: 14 before, 11 used, 8 after (1 duplicates merged, 2 by flips)", {0, 1, 2, 3, 6, 1, 4, 8}},
        {true, 2, "3 maps read; tiles: 14 before, 11 used, 8 after (1 duplicates merged, 2 by flips)", {0, 1, 2, 3, 6, 1, 4, 8}},
        {false, 0, "3 maps read; tiles: 14 before, 11 used, 10 after (1 duplicates merged, 0 by flips)", {0, 1, 2, 3, 6, -1, 1, -2, 4, 8}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flips ? "--flips" : "no flips");
        SCOPED_TRACE(c.extrude);
        const QString out = folder.File(QStringLiteral("out/%1%2").arg(c.flips ? "flips" : "plain").arg(c.extrude));
        ASSERT_TRUE(QDir(folder.Path()).mkpath("out"));
        QStringList arguments = QStringList{"optimize"} + game.Maps() + QStringList{"--out", out};
        if (c.flips) {
            arguments += "--flips";
        }
        if (c.extrude > 0) {
            arguments += {"--extrude", QString::number(c.extrude)};
        }
        const TilvexResult run = program.Run(arguments);
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.startsWith(c.summary)) << run.out.toStdString();
        expectSameDrawings(program, game.Maps(), out);

        const TiledTileset joined = LoadTileset(out + "/tileset.tsx");
        ASSERT_EQ(joined.tileCount, static_cast<int>(c.patterns.size()));
        EXPECT_EQ(joined.margin, c.extrude);
        EXPECT_EQ(joined.spacing, 2 * c.extrude);
        const QImage sheet = QImage(joined.image.source).convertToFormat(QImage::Format_RGBA8888);
        for (int id = 0; id < joined.tileCount; ++id) {
            const int n = c.patterns[static_cast<std::size_t>(id)];
            const QImage expected = n == -1 ? pattern(0).mirrored(true, false)
                                    : n == -2 ? OrientedTile(pattern(6), Diagonal | Horizontal) : pattern(n);
            const int step = 8 + joined.spacing;
            const QImage tile = sheet.copy(joined.margin + (id % joined.columns) * step, joined.margin + (id / joined.columns) * step, 8, 8);
            EXPECT_EQ(tile, expected) << "tile " << id;
        }
        // What the kept tiles carry, renumbered: the property, the animation, the shapes, the
        // wang set without the unused tile; the tileset data of both sheets.
        const int anim = 2, solid = 1, shaped = c.flips ? 6 : 8, path = 4;
        ASSERT_EQ(joined.tiles.count(solid), 1u);
        EXPECT_EQ(joined.tiles.at(solid).properties.size(), 1u);
        EXPECT_EQ(joined.tiles.count(c.flips ? 5 : 6), 0u) << "the look-alike without the property carries nothing";
        ASSERT_EQ(joined.tiles.count(anim), 1u);
        ASSERT_EQ(joined.tiles.at(anim).animation.size(), 2u);
        EXPECT_EQ(joined.tiles.at(anim).animation[0].tileId, 2);
        EXPECT_EQ(joined.tiles.at(anim).animation[1].tileId, 3);
        EXPECT_EQ(joined.tiles.at(anim).animation[1].duration, 150);
        ASSERT_EQ(joined.tiles.count(shaped), 1u);
        EXPECT_EQ(joined.tiles.at(shaped).collisionObjects, 1);
        ASSERT_EQ(joined.wangSets.size(), 1u);
        EXPECT_EQ(joined.wangSets[0].tileIds, (std::vector<int>{0, path}));
        EXPECT_EQ(joined.properties.size(), 2u);
        // The wang set's own tile is renumbered; its colour's tile was never used.
        const QByteArray tsx = ReadBytes(out + "/tileset.tsx");
        EXPECT_TRUE(tsx.contains(R"(<wangset name="paths" type="corner" tile="4">)")) << tsx.toStdString();
        EXPECT_TRUE(tsx.contains(R"(<wangcolor name="dirt" color="#ff0000" tile="-1")")) << tsx.toStdString();
        // The image layer still shows the same picture from the new folder.
        // Paths in the rewritten maps still name the same files from the new folder.
        EXPECT_TRUE(ReadBytes(out + "/one.tmx").contains("source=\"../../art/sky.png\""));
        EXPECT_TRUE(ReadBytes(out + "/one.tmx").contains("value=\"../../art/item5.png\""));
        EXPECT_TRUE(ReadBytes(out + "/three.tmj").contains("\"../../maps/one.tmx\"")) << "JSON";
    }
}

TEST(Optimize, RefusesAFolderOfItsInputsAndADryRunWritesNothing) {
    TestFolder folder;
    const Game game(folder);
    const TilvexProgram program(folder);
    const QStringList maps = {game.root + "/maps/one.tmx", game.root + "/maps/two.tmx"};
    const struct {
        QStringList extra;
        QString out;
        int status;
        const char* says;
    } cases[] = {
        {{}, game.root + "/maps", 2, "holds"},
        {{}, game.root, 2, "holds"},
        {{"--format", "bmp"}, game.root + "/new", 0, "after"},
        {{game.root + "/maps/one.tmx"}, game.root + "/new2", 2, "same name"},
        {{"--dry-run"}, game.root + "/dry", 0, "nothing written"},
        {{"--width", "0"}, game.root + "/none", 2, "--width"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        const TilvexResult run = program.Run(QStringList{"optimize"} + maps + QStringList{"--out", c.out} + c.extra);
        EXPECT_EQ(run.status, c.status) << run.err.toStdString();
        EXPECT_TRUE((run.out + run.err).contains(c.says)) << (run.out + run.err).toStdString();
        EXPECT_EQ(QFileInfo::exists(c.out + "/tileset.tsx"), c.status == 0 && !c.extra.contains("--dry-run"));
    }
}

// The orthogonal sample maps of Tiled itself, alone and as sets that share tilesets.
TEST(Optimize, TiledSampleMapsDrawAsBefore) {
    if (!tiledTools()) {
        GTEST_SKIP() << "tmxrasterizer and tiled (Debian package tiled) are not installed";
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString examples = "/usr/share/doc/tiled/examples/";
    if (!QFileInfo::exists(examples + "desert.tmx")) {
        GTEST_SKIP() << "the sample maps of Debian's tiled are not installed";
    }
    TestFolder folder;
    const TilvexProgram program(folder);
    const QStringList sets[] = {
        {"desert.tmx"},
        {"rpg/island.tmx"},
        {"perspective_walls.tmx"},
        {"sewers.tmx"},
        {"sewer_automap/rule_001.tmx", "sewer_automap/rule_002.tmx", "sewer_automap/rule_003.tmx",
         "sewer_automap/sewers.tmx"},
    };
    int k = 0;
    for (const QStringList& set : sets) {
        SCOPED_TRACE(set.join(' ').toStdString());
        QStringList maps;
        for (const QString& name : set) {
            maps += examples + name;
        }
        const QString out = folder.File(QStringLiteral("set%1").arg(k++));
        const TilvexResult run = program.Run(QStringList{"optimize"} + maps + QStringList{"--out", out, "--flips"});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        expectSameDrawings(program, maps, out);
    }
}

}  // namespace
