#include "support/testsupport.h"
#include "tiledpictures.h"
#include "tilvexrun.h"

#include "sheets/tileindex.h"
#include "tiled/tiledfiles.h"

#include <gtest/gtest.h>

#include <QPainter>

namespace {

// The run's peak memory in MiB by GNU time; -1 where it is missing or the sanitizer's own
// memory would hide the program's.
long peakMiB(const TilvexProgram& program, const TestFolder& folder, const QStringList& arguments, TilvexResult& run) {
    bool measured = QFileInfo(QStringLiteral("/usr/bin/time")).isExecutable();
#if defined(__SANITIZE_ADDRESS__)
    measured = false;
#endif
    run = program.Run(arguments, measured ? QStringList{"/usr/bin/time", "-f", "%M", "-o", folder.File("time.log")} : QStringList{});
    return measured ? ReadBytes(folder.File("time.log")).trimmed().split('\n').last().toLong() / 1024 : -1;
}

// A 2048 sheet cut into 4 million 1x1 tiles of which a map places three: drawing and every
// export cost what the map places. Holding a picture per tile took a GiB and more.
TEST(Bounds, SheetOfManySmallTilesCostsWhatTheMapPlaces) {
    TestFolder folder;
    const TilvexProgram program(folder);
    const QImage sheet = noise(QSize(2048, 2048), 5);
    ASSERT_TRUE(sheet.save(folder.File("sheet.png")));
    const int ids[] = {5, 2048 * 1000 + 7, 2048 * 2048 - 1};
    const QPoint cells[] = {{0, 0}, {2, 0}, {1, 1}};
    for (const char* trans : {"", R"(trans="010203")"}) {
        WriteBytes(folder.File("s.tsx"), QStringLiteral(R"(<tileset name="s" tilewidth="1" tileheight="1" tilecount="4194304" columns="2048">
 <image source="sheet.png" width="2048" height="2048" %1/></tileset>)").arg(trans).toUtf8());
        WriteBytes(folder.File("m.tmx"), QStringLiteral(R"(<map orientation="orthogonal" width="3" height="2" tilewidth="1" tileheight="1">
 <tileset firstgid="1" source="s.tsx"/>
 <layer id="1" name="L" width="3" height="2"><data encoding="csv">%1,0,%2,0,%3,0</data></layer></map>)")
                                             .arg(ids[0] + 1).arg(ids[1] + 1).arg(ids[2] + 1).toUtf8());
        const QStringList runs[] = {{"compile", "--map", folder.File("m.tmx"), folder.File("plain.png")},
                                    {"compile", "--map", folder.File("m.tmx"), folder.File("drawn.png"), "--hidden"},
                                    {"export", folder.File("m.tmx"), "--to", "phaser", "--out", folder.File("phaser")},
                                    {"export", folder.File("m.tmx"), "--to", "godot", "--out", folder.File("godot")},
                                    {"export", folder.File("m.tmx"), "--to", "ldtk", "--out", folder.File("ldtk")}};
        for (const QStringList& arguments : runs) {
            SCOPED_TRACE((arguments.join(' ') + " " + trans).toStdString());
            TilvexResult run;
            const long peak = peakMiB(program, folder, arguments, run);
            ASSERT_EQ(run.status, 0) << run.err.toStdString();
            EXPECT_LT(peak, 200) << "peak MiB";
        }
        for (const char* drawing : {"plain.png", "drawn.png"}) {
            const QImage drawn(folder.File(drawing));
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(drawn.pixel(cells[k]), sheet.pixel(ids[k] % 2048, ids[k] / 2048)) << drawing << " tile " << k;
            }
        }
    }
}

// Forty frames of a map whose sixteen 256-pixel tiles of noise each show another tile every
// time: only the frame before is held, not the file (which held every frame's pixels).
TEST(Bounds, AnimatedPictureIsWrittenAFrameAtATime) {
    TestFolder folder;
    const TilvexProgram program(folder);
    ASSERT_TRUE(noise(QSize(256 * 41, 256), 9).save(folder.File("tiles.png")));
    QString tiles;
    QStringList cells;
    for (int c = 0; c < 16; ++c) {
        tiles += QStringLiteral(R"(<tile id="%1"><animation>)").arg(c);
        for (int k = 0; k < 40; ++k) {
            tiles += QStringLiteral(R"(<frame tileid="%1" duration="100"/>)").arg((c + k) % 41);
        }
        tiles += "</animation></tile>";
        cells << QString::number(c + 1);
    }
    WriteBytes(folder.File("a.tmx"), QStringLiteral(R"(<map orientation="orthogonal" width="4" height="4" tilewidth="256" tileheight="256">
 <tileset firstgid="1" name="t" tilewidth="256" tileheight="256" tilecount="41" columns="41"><image source="tiles.png" width="10496" height="256"/>%1</tileset>
 <layer id="1" name="L" width="4" height="4"><data encoding="csv">%2</data></layer></map>)")
                                         .arg(tiles, cells.join(',')).toUtf8());
    TilvexResult run;
    const long peak = peakMiB(program, folder, {"compile", "--map", folder.File("a.tmx"), folder.File("a.png"), "--animate"}, run);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("40 frames")) << run.out.toStdString();
    EXPECT_GT(QFileInfo(folder.File("a.png")).size(), 40 * 2 * 1024 * 1024) << "the frames hardly compress";
    EXPECT_LT(peak, 100) << "peak MiB";
}

// A world placing one map many times, overlapping, draws as tmxrasterizer draws it; worlds
// whose drawing or matching would run for hours are refused, naming the world and why.
TEST(Bounds, WorldsOfOneMapManyTimesAndBacktrackingPatterns) {
    TestFolder folder;
    const TilvexProgram program(folder);
    ASSERT_TRUE(noise(QSize(32, 16), 2).save(folder.File("t.png")));
    WriteBytes(folder.File("m.tmx"), QStringLiteral(R"(<map orientation="orthogonal" width="16" height="16" tilewidth="16" tileheight="16">
 <tileset firstgid="1" name="t" tilewidth="16" tileheight="16" tilecount="2" columns="2"><image source="t.png" width="32" height="16"/></tileset>
 <layer id="1" name="L" width="16" height="16" opacity="0.5"><data encoding="csv">1%1</data></layer></map>)").arg(QString(",2,0,1").repeated(85)).toUtf8());
    WriteBytes(folder.File(QString(30, 'a') + "1"), "");
    QStringList entries;
    for (int k = 0; k < 65536; ++k) {
        entries << QStringLiteral(R"({"fileName": "m.tmx", "x": %1, "y": %2})").arg(k % 8 * 37).arg(k / 8 % 8 * 23);
    }
    const struct {
        QString world;
        const char* reason;  // empty: drawn
    } cases[] = {{"{\"maps\": [" + entries.mid(0, 64).join(',') + "]}", ""},
                 {"{\"maps\": [" + entries.join(',') + "]}", "cover more than"},
                 {R"({"patterns": [{"regexp": "^((?:a|a)+)+(\\W)\\w"}]})", "backtracks"}};
    for (const auto& c : cases) {
        WriteBytes(folder.File("w.world"), c.world.toUtf8());
        const TilvexResult run = program.Run({"compile", "--map", folder.File("w.world"), folder.File("ours.png")});
        if (*c.reason != '\0') {
            EXPECT_TRUE(run.status != 0 && run.err.contains(folder.File("w.world")) && run.err.contains(c.reason)) << run.err.toStdString();
            continue;
        }
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        if (!tiledTool("tmxrasterizer").isEmpty()) {
            ASSERT_EQ(runTool(tiledTool("tmxrasterizer"), {"--no-smoothing", folder.File("w.world"), folder.File("theirs.png")}).status, 0);
            const Difference d = difference(QImage(folder.File("ours.png")), QImage(folder.File("theirs.png")));
            EXPECT_EQ(d.beyond2, 0) << d.pixels << " differ, first " << d.first.toStdString();
        }
    }
}

// A tile that a tile object draws stretched is merged with a mirror of another under --flips,
// never with a turn of it; the maps draw as before in Tiled's renderer.
TEST(Bounds, StretchedTileObjectsMergeWithMirrorsOnly) {
    if (tiledTool("tmxrasterizer").isEmpty()) {
        GTEST_SKIP() << "tmxrasterizer (Debian package tiled) is not installed";
    }
    const struct {
        std::uint32_t flips;  // of the second tile, against the first
        int tiles;            // in the joined tileset
    } cases[] = {{GidFlag::Horizontal, 1}, {GidFlag::Vertical, 1}, {GidFlag::Horizontal | GidFlag::Vertical, 1}, {GidFlag::Diagonal | GidFlag::Horizontal, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flips);
        TestFolder folder;
        const TilvexProgram program(folder);
        const QImage first = noise(QSize(8, 8), 4);
        QImage sheet(16, 8, QImage::Format_ARGB32);
        QPainter painter(&sheet);
        painter.drawImage(0, 0, first);
        painter.drawImage(8, 0, OrientedTile(first.convertToFormat(QImage::Format_RGBA8888), c.flips));
        painter.end();
        ASSERT_TRUE(sheet.save(folder.File("s.png")));
        WriteBytes(folder.File("m.tmx"), R"(<map orientation="orthogonal" width="2" height="2" tilewidth="8" tileheight="8">
 <tileset firstgid="1" name="s" tilewidth="8" tileheight="8" tilecount="2" columns="2"><image source="s.png" width="16" height="8"/></tileset>
 <layer id="1" name="L" width="2" height="2"><data encoding="csv">1,0,0,1</data></layer>
 <objectgroup id="2" name="O"><object id="1" gid="2" x="0" y="16" width="16" height="8"/></objectgroup></map>)");
        const TilvexResult run = program.Run({"optimize", folder.File("m.tmx"), "--out", folder.File("out"), "--flips"});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_EQ(LoadTileset(folder.File("out/tileset.tsx")).tileCount, c.tiles);
        for (const QString& map : {folder.File("m.tmx"), folder.File("out/m.tmx")}) {
            ASSERT_EQ(runTool(tiledTool("tmxrasterizer"), {"--no-smoothing", map, map + ".png"}).status, 0);
        }
        EXPECT_EQ(QImage(folder.File("m.tmx.png")), QImage(folder.File("out/m.tmx.png")));
    }
}

}  // namespace
