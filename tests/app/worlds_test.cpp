#include "support/testsupport.h"
#include "tiledpictures.h"
#include "tilvexrun.h"

#include <gtest/gtest.h>

namespace {

// An orthogonal map of 4x3 cells of 16x16 tiles: a full layer, a half-opaque layer with an
// offset and, where asked, a background colour (which a world leaves out).
QByteArray mapOf(int seed, const char* background) {
    QStringList ground, over;
    for (int k = 0; k < 12; ++k) {
        ground << QString::number(1 + (k + seed) % 8);
        over << QString::number(k % 3 == seed % 3 ? 1 + (k * 5 + seed) % 8 : 0);
    }
    return QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<map version="1.8" orientation="orthogonal" renderorder="right-down" width="4" height="3" tilewidth="16" tileheight="16" infinite="0" %1>
 <tileset firstgid="1" name="sheet" tilewidth="16" tileheight="16" tilecount="8" columns="4"><image source="sheet.png" width="64" height="32"/></tileset>
 <layer id="1" name="ground" width="4" height="3"><data encoding="csv">%2</data></layer>
 <layer id="2" name="over" width="4" height="3" opacity="0.5" offsetx="5" offsety="-3"><data encoding="csv">%3</data></layer>
</map>
)").arg(QString::fromLatin1(background), ground.join(','), over.join(',')).toUtf8();
}

// Three maps: two listed (one above and left of the origin, overlapping the other), one
// found by a pattern among the folder's files; a file the pattern does not match is left out.
QString worldIn(const TestFolder& folder) {
    noise(QSize(64, 32), 3).save(folder.File("sheet.png"));
    WriteBytes(folder.File("a.tmx"), mapOf(0, R"(backgroundcolor="#ff0000")"));
    WriteBytes(folder.File("b.tmx"), mapOf(1, ""));
    WriteBytes(folder.File("w_2_1.tmx"), mapOf(2, ""));
    WriteBytes(folder.File("w_x.tmx"), mapOf(3, ""));
    const QString world = folder.File("all.world");
    WriteBytes(world, R"({"maps": [{"fileName": "a.tmx", "x": -20, "y": -10, "width": 64, "height": 48},
                                   {"fileName": "b.tmx", "x": 30, "y": 20}],
                          "patterns": [{"regexp": "w_(\\d+)_(\\d+)\\.tmx", "multiplierX": 64, "multiplierY": 48,
                                        "offsetX": -40, "offsetY": 7}],
                          "type": "world"})");
    return world;
}

TEST(Worlds, DrawAsTmxrasterizer) {
    if (tiledTool("tmxrasterizer").isEmpty()) {
        GTEST_SKIP() << "tmxrasterizer (Debian package tiled) is not installed";
    }
    TestFolder folder;
    const TilvexProgram program(folder);
    const QString world = worldIn(folder);
    // Scaled, the half-opaque layer's offset puts its tiles at half pixels, which Qt 5 and
    // Qt 6 sample apart: it is left out there.
    const QStringList options[] = {{},
                                   {"--scale", "2"},
                                   {"--advance-animations", "100"},
                                   {"--scale", "0.5", "--hide-layer", "over"},
                                   {"--size", "70", "--hide-layer", "over"},
                                   {"--scale", "1.5", "--hide-layer", "over"}};
    for (const QStringList& option : options) {
        const TilvexResult run = program.Run(QStringList{"compile", "--map", world, folder.File("ours.png")} + option);
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        ASSERT_EQ(runTool(tiledTool("tmxrasterizer"), QStringList{"--no-smoothing"} + option + QStringList{world, folder.File("theirs.png")}).status, 0);
        const Difference d = difference(QImage(folder.File("ours.png")), QImage(folder.File("theirs.png")));
        // Half-opaque tiles are blended within 2 of Tiled.
        EXPECT_EQ(d.beyond2, 0) << option.join(' ').toStdString() << ": " << d.pixels << " differ, first " << d.first.toStdString();
    }
    const TilvexResult info = program.Run({"info", world});
    EXPECT_EQ(info.out, QStringLiteral("%1\tworld\t3 maps\n%1\tmap\t%2\t-20\t-10\n%1\tmap\t%3\t30\t20\n%1\tmap\t%4\t88\t55\n")
                            .arg(world, folder.File("a.tmx"), folder.File("b.tmx"), folder.File("w_2_1.tmx")));
}

TEST(Worlds, RefusalsNameTheFile) {
    TestFolder folder;
    const TilvexProgram program(folder);
    const QString good = worldIn(folder);
    const struct {
        const char* name;
        const char* world;  // empty: the good world
        QStringList options;
        const char* named;  // the file the message names
        const char* reason;
    } cases[] = {
        {"no maps", R"w({"maps": []})w", {}, "bad.world", "no maps"},
        {"not JSON", "[1, 2", {}, "bad.world", ""},
        {"one capture", R"w({"patterns": [{"regexp": "w_(\\d+)\\.tmx"}]})w", {}, "bad.world", "two captures"},
        {"multiplier 0", R"w({"patterns": [{"regexp": "w_(\\d+)_(\\d+)", "multiplierX": 0}]})w", {}, "bad.world", "multiplier"},
        {"position not whole", R"w({"maps": [{"fileName": "a.tmx", "x": 1.5}]})w", {}, "bad.world", "whole number"},
        {"missing map", R"w({"maps": [{"fileName": "gone.tmx"}]})w", {}, "gone.tmx", ""},
        {"too large", R"w({"maps": [{"fileName": "a.tmx"}, {"fileName": "b.tmx", "x": 200000}]})w", {}, "bad.world", "picture"},
        {"tile size", "", {"--tilesize", "8"}, "all.world", "--tilesize"},
        {"animated", "", {"--animate"}, "all.world", "--animate"},
    };
    for (const auto& c : cases) {
        QString world = good;
        if (*c.world != '\0') {
            world = folder.File("bad.world");
            WriteBytes(world, c.world);
        }
        const TilvexResult run = program.Run(QStringList{"compile", "--map", world, folder.File("out.png")} + c.options);
        EXPECT_NE(run.status, 0) << c.name;
        EXPECT_TRUE(run.err.contains(QString::fromLatin1(c.named)) && run.err.contains(QString::fromLatin1(c.reason))) << c.name << ": " << run.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(folder.File("out.png"))) << c.name;
    }
}

}  // namespace
