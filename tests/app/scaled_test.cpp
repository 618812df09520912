#include "support/testsupport.h"
#include "tiledpictures.h"
#include "tilvexrun.h"

#include "tiled/xmltree.h"

#include <gtest/gtest.h>

namespace {

// An isometric map of 64x32 cells with 64x64 tiles offset by odd pixels (so scaled tiles
// start between pixels), every flip and diagonal flip, a half-opaque layer at half pixels,
// an image layer, and tile objects scaled, flipped and turned.
QString ownMap(const TestFolder& folder) {
    noise(QSize(128, 64), 7).save(folder.File("sheet.png"));
    noise(QSize(40, 24), 8).save(folder.File("backdrop.png"));
    QStringList ground, over;
    for (int k = 0; k < 36; ++k) {
        const unsigned flips = static_cast<unsigned>(k % 8) << 29;
        ground << QString::number(flips | (1u + static_cast<unsigned>(k % 2)));
        over << (k % 3 == 0 ? QString::number(flips | 2u) : QStringLiteral("0"));
    }
    WriteBytes(folder.File("own.tmx"), QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<map version="1.8" orientation="isometric" renderorder="right-down" width="6" height="6" tilewidth="64" tileheight="32" infinite="0">
 <tileset firstgid="1" name="sheet" tilewidth="64" tileheight="64" tilecount="2" columns="2"><tileoffset x="3" y="-5"/><image source="sheet.png" width="128" height="64"/></tileset>
 <imagelayer id="3" name="backdrop" offsetx="17" offsety="9"><image source="backdrop.png" width="40" height="24"/></imagelayer>
 <layer id="1" name="ground" width="6" height="6"><data encoding="csv">%1</data></layer>
 <layer id="2" name="over" width="6" height="6" opacity="0.5" offsetx="7.5" offsety="-2.5"><data encoding="csv">%2</data></layer>
 <objectgroup id="4" name="things">
  <object id="1" gid="2" x="40" y="60" width="48" height="40"/>
  <object id="2" gid="2147483649" x="100" y="90" width="64" height="64" rotation="30"/>
  <object id="3" gid="1610612738" x="150" y="40" width="33" height="70"/>
 </objectgroup>
</map>
)").arg(ground.join(','), over.join(',')).toUtf8());
    return folder.File("own.tmx");
}

// A copy of a Tiled sample without what tmxrasterizer 1.8 leaves out (the background
// colour) or this tool draws apart (shapes and text).
QString sample(const QString& examples, const QString& name) {
    const QString map = examples + "/" + name;
    XmlNode root = ParseXml(map, ReadBytes(map));
    root.Remove("backgroundcolor");
    for (XmlNode& layer : root.children) {
        layer.RemoveChildren([](const XmlNode& o) { return o.name == "object" && !o.Has("gid"); });
    }
    WriteBytes(map, XmlBytes(root));
    return map;
}

TEST(Scaled, MapsSampleThePixelsTmxrasterizerSamples) {
    TestFolder folder;
    const QString examples = copiedTiledSamples(folder, "ex");
    if (examples.isEmpty()) {
        GTEST_SKIP() << "tmxrasterizer and the samples of the Debian package tiled are not installed";
    }
    const TilvexProgram program(folder);
    const QStringList small[] = {{"--scale", "0.5"}, {"--scale", "0.37"}, {"--scale", "2"}, {"--scale", "3"},
                                 {"--tilesize", "16"}, {"--size", "300"}};
    const QStringList large[] = {{"--scale", "0.5"}, {"--scale", "0.37"}, {"--tilesize", "16"}, {"--size", "300"}};
    const struct {
        QString map;
        bool small;  // drawn at 2 and 3 too
    } maps[] = {
        {ownMap(folder), true},
        {sample(examples, "hexagonal-mini.tmx"), true},
        {sample(examples, "test_hexagonal_tile_60x60x30.tmx"), true},
        {sample(examples, "desert.tmx"), false},
        {sample(examples, "isometric_grass_and_water.tmx"), false},
        {sample(examples, "isometric_staggered_grass_and_water.tmx"), false},
        {sample(examples, "sticker-knight/map/sandbox2.tmx"), false},
    };
    for (const auto& m : maps) {
        for (const QStringList& option : m.small ? std::vector<QStringList>(std::begin(small), std::end(small))
                                                 : std::vector<QStringList>(std::begin(large), std::end(large))) {
            // Without smoothing the same pixels; Qt 6 smooths within a level of Tiled's Qt 5.
            for (const bool smooth : {false, true}) {
                const QStringList ours = option + (smooth ? QStringList{"--smoothing"} : QStringList{});
                const QStringList theirs = option + (smooth ? QStringList{} : QStringList{"--no-smoothing"});
                const TilvexResult run = program.Run(QStringList{"compile", "--map", m.map, folder.File("ours.png")} + ours);
                ASSERT_EQ(run.status, 0) << run.err.toStdString();
                ASSERT_EQ(runTool(tiledTool("tmxrasterizer"), theirs + QStringList{m.map, folder.File("theirs.png")}).status, 0);
                const Difference d = difference(QImage(folder.File("ours.png")), QImage(folder.File("theirs.png")));
                EXPECT_LE(d.most, smooth ? 1 : 0) << m.map.toStdString() << " " << ours.join(' ').toStdString() << ": " << d.pixels
                                                  << " differ, first " << d.first.toStdString();
            }
        }
    }
}

TEST(Scaled, WorldsSampleThePixelsTmxrasterizerSamples) {
    if (tiledTool("tmxrasterizer").isEmpty()) {
        GTEST_SKIP() << "tmxrasterizer (Debian package tiled) is not installed";
    }
    TestFolder folder;
    const TilvexProgram program(folder);
    ownMap(folder);
    WriteBytes(folder.File("all.world"), R"({"maps": [{"fileName": "own.tmx", "x": 0, "y": 0},
                                                      {"fileName": "own.tmx", "x": 301, "y": 77}], "type": "world"})");
    const QStringList options[] = {{"--scale", "0.37"}, {"--scale", "1.5"}, {"--size", "250"}};
    for (const QStringList& option : options) {
        const TilvexResult run = program.Run(QStringList{"compile", "--map", folder.File("all.world"), folder.File("ours.png")} + option);
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        ASSERT_EQ(runTool(tiledTool("tmxrasterizer"), QStringList{"--no-smoothing"} + option +
                                                          QStringList{folder.File("all.world"), folder.File("theirs.png")}).status, 0);
        const Difference d = difference(QImage(folder.File("ours.png")), QImage(folder.File("theirs.png")));
        EXPECT_EQ(d.most, 0) << option.join(' ').toStdString() << ": " << d.pixels << " differ, first " << d.first.toStdString();
    }
}

// A translucent background keeps its colour at every scale (the canvas holds it premultiplied
// or not as the scale needs).
TEST(Scaled, TranslucentBackgroundKeepsItsColour) {
    TestFolder folder;
    const TilvexProgram program(folder);
    QByteArray map = ReadBytes(ownMap(folder));
    map.replace("infinite=\"0\">", "infinite=\"0\" backgroundcolor=\"#80402010\">");
    WriteBytes(folder.File("own.tmx"), map);
    for (const char* scale : {"1", "0.5"}) {
        const TilvexResult run = program.Run({"compile", "--map", folder.File("own.tmx"), folder.File("ours.png"), "--scale", scale, "--hide-layer", "ground"});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        const QRgb corner = QImage(folder.File("ours.png")).pixel(0, 0);
        EXPECT_EQ(corner, qRgba(0x40, 0x20, 0x10, 0x80)) << scale << ": " << QString::number(corner, 16).toStdString();
    }
}

}  // namespace
