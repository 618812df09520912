#include "support/testsupport.h"
#include "tilvexrun.h"
#include "tiledpictures.h"

#include "tiled/layerdata.h"
#include "tiled/tiledfiles.h"
#include "tiled/xmltree.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QStandardPaths>

namespace {

QImage rasterized(const QString& map, const QString& png) {
    const TilvexResult run = runTool(tiledTool("tmxrasterizer"), {"--no-smoothing", map, png});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    return QImage(png);
}

XmlNode element(const QString& name, std::vector<std::pair<QString, QString>> attributes, std::vector<XmlNode> children = {}) {
    return XmlNode{XmlNode::Kind::Element, name, {}, std::move(attributes), std::move(children)};
}

struct MapShape {
    bool infinite = false;
    bool blended = false;  // opacity and tint, drawn within 2 of Tiled
};

// A map of two tilesets (an external sheet with margin and spacing, an embedded collection
// with a tile larger than the grid), a layer of every cell flipped every way, a group with
// an offset holding sparse tiles, and tile objects scaled, flipped and turned.
QByteArray mapOf(const TestFolder& folder, const QString& encoding, const QString& compression, MapShape shape) {
    const QSize cells(8, 6);
    noise(QSize(1 + 4 * 18, 1 + 3 * 18), 1).save(folder.File("sheet.png"));
    noise(QSize(16, 16), 2).save(folder.File("a.png"));
    noise(QSize(24, 32), 3).save(folder.File("b.png"));
    WriteBytes(folder.File("sheet.tsx"),
               XmlBytes(element("tileset", {{"name", "sheet"}, {"tilewidth", "16"}, {"tileheight", "16"}, {"spacing", "2"},
                                            {"margin", "1"}, {"tilecount", "12"}, {"columns", "4"}},
                                {element("image", {{"source", "sheet.png"}, {"width", "73"}, {"height", "55"}})})));
    const auto data = [&](const std::vector<std::uint32_t>& gids, int width) {
        std::vector<XmlNode> tiles;
        if (encoding.isEmpty()) {
            for (const std::uint32_t gid : gids) {
                tiles.push_back(element("tile", gid ? std::vector<std::pair<QString, QString>>{{"gid", QString::number(gid)}}
                                                    : std::vector<std::pair<QString, QString>>{}));
            }
            return tiles;
        }
        tiles.push_back(XmlNode{XmlNode::Kind::Text, {}, EncodeLayerData("test", gids, encoding, compression, width), {}, {}});
        return tiles;
    };
    const auto layer = [&](const QString& name, int id, const std::function<std::uint32_t(int, int)>& gid,
                           std::vector<std::pair<QString, QString>> extra) {
        std::vector<std::pair<QString, QString>> attributes = {{"id", QString::number(id)}, {"name", name},
                                                               {"width", QString::number(cells.width())},
                                                               {"height", QString::number(cells.height())}};
        attributes.insert(attributes.end(), extra.begin(), extra.end());
        std::vector<std::pair<QString, QString>> dataAttributes;
        if (!encoding.isEmpty()) {
            dataAttributes.emplace_back("encoding", encoding);
        }
        if (!compression.isEmpty()) {
            dataAttributes.emplace_back("compression", compression);
        }
        XmlNode holder = element("data", dataAttributes);
        if (!shape.infinite) {
            std::vector<std::uint32_t> gids;
            for (int k = 0; k < cells.width() * cells.height(); ++k) {
                gids.push_back(gid(k % cells.width(), k / cells.width()));
            }
            holder.children = data(gids, cells.width());
        } else {
            // Two chunks, one left of and above the origin, as an infinite map holds them.
            for (const QPoint corner : {QPoint(-16, -16), QPoint(0, 0)}) {
                std::vector<std::uint32_t> gids;
                for (int k = 0; k < 256; ++k) {
                    const int x = corner.x() + k % 16, y = corner.y() + k / 16;
                    gids.push_back(std::abs(x) < 5 && std::abs(y) < 4 ? gid(x + 5, y + 4) : 0u);
                }
                holder.children.push_back(element("chunk", {{"x", QString::number(corner.x())}, {"y", QString::number(corner.y())},
                                                            {"width", "16"}, {"height", "16"}}));
                holder.children.back().children = data(gids, 16);
            }
        }
        return element("layer", attributes, {holder});
    };
    const std::uint32_t flips[8] = {0, 0x80000000u, 0x40000000u, 0x20000000u, 0xA0000000u, 0x60000000u, 0xC0000000u, 0xE0000000u};
    XmlNode ground = layer("ground", 1, [&](int x, int y) { return (1 + (x + 3 * y) % 12) | flips[(x * 5 + y) % 8]; }, {});
    XmlNode over = layer("over", 3, [&](int x, int y) {
        return (x + y) % 3 == 0 ? 13u + static_cast<std::uint32_t>((x / 3) % 2) : (x * y) % 5 == 1 ? 4u | flips[x % 8] : 0u;
    }, shape.blended ? std::vector<std::pair<QString, QString>>{{"opacity", "0.5"}, {"tintcolor", "#ff80ff40"}}
                     : std::vector<std::pair<QString, QString>>{});
    XmlNode group = element("group", {{"id", "2"}, {"name", "upper"}, {"offsetx", "5"}, {"offsety", "3"}}, {over});
    XmlNode objects = element("objectgroup", {{"id", "4"}, {"name", "things"}},
                              {element("object", {{"id", "1"}, {"gid", "14"}, {"x", "40"}, {"y", "64"}, {"width", "48"}, {"height", "64"}}),
                               element("object", {{"id", "2"}, {"gid", QString::number(0x80000005u)}, {"x", "20"}, {"y", "90"},
                                                  {"width", "16"}, {"height", "16"}, {"rotation", "90"}}),
                               element("object", {{"id", "3"}, {"gid", QString::number(0x20000007u)}, {"x", "100"}, {"y", "40"},
                                                  {"width", "32"}, {"height", "32"}})});
    XmlNode collection = element("tileset", {{"firstgid", "13"}, {"name", "things"}, {"tilewidth", "24"}, {"tileheight", "32"},
                                             {"tilecount", "2"}, {"columns", "0"}},
                                 {element("grid", {{"orientation", "orthogonal"}, {"width", "1"}, {"height", "1"}}),
                                  element("tile", {{"id", "0"}}, {element("image", {{"source", "a.png"}, {"width", "16"}, {"height", "16"}})}),
                                  element("tile", {{"id", "1"}}, {element("image", {{"source", "b.png"}, {"width", "24"}, {"height", "32"}})})});
    return XmlBytes(element("map", {{"version", "1.8"}, {"orientation", "orthogonal"}, {"renderorder", "right-down"},
                                    {"width", QString::number(cells.width())}, {"height", QString::number(cells.height())},
                                    {"tilewidth", "16"}, {"tileheight", "16"}, {"infinite", shape.infinite ? "1" : "0"},
                                    {"nextlayerid", "5"}, {"nextobjectid", "4"}},
                            {element("tileset", {{"firstgid", "1"}, {"source", "sheet.tsx"}}), collection, ground, group, objects}));
}

TEST(TiledMaps, EveryEncodingDrawsAsTmxrasterizerAndAfterTiledResavesIt) {
    if (tiledTool("tmxrasterizer").isEmpty() || tiledTool("tiled").isEmpty()) {
        GTEST_SKIP() << "tmxrasterizer and tiled (Debian package tiled) are not installed";
    }
    const struct {
        const char* encoding;
        const char* compression;
        MapShape shape;
    } cases[] = {
        {"csv", "", {}},
        {"base64", "", {}},
        {"base64", "zlib", {}},
        {"base64", "gzip", {}},
        {"base64", "zstd", {}},
        {"", "", {}},
        {"csv", "", {true, false}},
        {"base64", "zlib", {true, false}},
        {"csv", "", {false, true}},
        {"base64", "zstd", {true, true}},
    };
    for (const auto& c : cases) {
        const std::string name = std::string(c.encoding) + "/" + c.compression + (c.shape.infinite ? " infinite" : "") +
                                 (c.shape.blended ? " blended" : "");
        TestFolder folder;
        const TilvexProgram program(folder);
        WriteBytes(folder.File("in.tmx"), mapOf(folder, c.encoding, c.compression, c.shape));
        const QImage expected = rasterized(folder.File("in.tmx"), folder.File("expected.png"));
        ASSERT_FALSE(expected.isNull()) << name;
        QStringList maps = {"in.tmx"};
        // Tiled's own writer keeps the layer format in .tmx and gives its JSON form.
        for (const auto& [format, out] : {std::pair<QString, QString>{"", "tiled.tmx"}, {"json", "tiled.tmj"}}) {
            const QStringList arguments = format.isEmpty() ? QStringList{"--export-map", folder.File("in.tmx"), folder.File(out)}
                                                           : QStringList{"--export-map", format, folder.File("in.tmx"), folder.File(out)};
            const TilvexResult saved = runTool(tiledTool("tiled"), arguments);
            ASSERT_EQ(saved.status, 0) << name << saved.err.toStdString();
            maps += out;
        }
        for (const QString& map : maps) {
            const TilvexResult run = program.Run({"compile", "--map", folder.File(map), folder.File(map + ".png")});
            ASSERT_EQ(run.status, 0) << name << " " << map.toStdString() << run.err.toStdString();
            const Difference d = difference(QImage(folder.File(map + ".png")), expected);
            EXPECT_LE(d.most, c.shape.blended ? 2 : 0)
                << name << " " << map.toStdString() << ": " << d.pixels << " pixels differ, first " << d.first.toStdString();
        }
    }
}

// Tiled's own sample maps, with the shapes and texts that this tool leaves out removed.
TEST(TiledMaps, TiledsOrthogonalSamplesDrawAsTmxrasterizer) {
    TestFolder folder;
    if (copiedTiledSamples(folder, "ex").isEmpty()) {
        GTEST_SKIP() << "tmxrasterizer and the samples of the Debian package tiled are not installed";
    }
    const TilvexProgram program(folder);
    // Edge pixels of tile objects scaled by fractions are sampled differently (352 of 3.6 million in sandbox).
    const std::pair<const char*, int> maps[] = {{"desert.tmx", 0}, {"sewers.tmx", 0}, {"perspective_walls.tmx", 0}, {"rpg/island.tmx", 0},
                                                {"orthogonal-outside.tmx", 0}, {"sticker-knight/map/sandbox.tmx", 400},
                                                {"sticker-knight/map/sandbox2.tmx", 0}};
    for (const auto& [name, edges] : maps) {
        const QString map = folder.File(QStringLiteral("ex/%1").arg(name));
        XmlNode root = ParseXml(map, ReadBytes(map));
        // tmxrasterizer of Tiled 1.8 leaves the background colour out; later ones fill it, as this tool does.
        root.Remove("backgroundcolor");
        for (XmlNode& layer : root.children) {
            layer.RemoveChildren([](const XmlNode& o) { return o.name == "object" && !o.Has("gid"); });
        }
        WriteBytes(map, XmlBytes(root));
        const TilvexResult run = program.Run({"compile", "--map", map, map + ".png"});
        ASSERT_EQ(run.status, 0) << name << run.err.toStdString();
        EXPECT_TRUE(run.out.contains(" 0 shape or text objects drawn")) << run.out.toStdString();
        const Difference d = difference(QImage(map + ".png"), rasterized(map, map + ".ref.png"));
        EXPECT_LE(d.beyond2, edges) << name << ": " << d.pixels << " pixels differ, first " << d.first.toStdString();
    }
}

TEST(TiledMaps, ChosenAndHiddenLayersAsTmxrasterizerShowsThem) {
    if (tiledTool("tmxrasterizer").isEmpty()) {
        GTEST_SKIP() << "tmxrasterizer (Debian package tiled) is not installed";
    }
    TestFolder folder;
    const TilvexProgram program(folder);
    QByteArray map = mapOf(folder, "csv", "", {});
    map.replace("name=\"ground\"", "name=\"ground\" visible=\"0\"");
    WriteBytes(folder.File("m.tmx"), map);
    const struct {
        QStringList ours;
        QStringList theirs;
    } cases[] = {
        {{}, {}},
        {{"--hidden"}, {"--ignore-visibility"}},
        {{"--layer", "over"}, {"--show-layer", "over"}},
        {{"--layer", "OVER", "--layer", "things", "--hidden"}, {"--show-layer", "over", "--show-layer", "things", "--ignore-visibility"}},
    };
    for (const auto& c : cases) {
        const TilvexResult run = program.Run(QStringList{"compile", "--map", folder.File("m.tmx"), folder.File("ours.png")} + c.ours);
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        const TilvexResult ref = runTool(tiledTool("tmxrasterizer"), QStringList{"--no-smoothing"} + c.theirs +
                                                                      QStringList{folder.File("m.tmx"), folder.File("theirs.png")});
        ASSERT_EQ(ref.status, 0);
        const Difference d = difference(QImage(folder.File("ours.png")), QImage(folder.File("theirs.png")));
        EXPECT_EQ(d.most, 0) << c.ours.join(' ').toStdString() << ": " << d.pixels << " differ, first " << d.first.toStdString();
    }
}

TEST(TiledMaps, MapsThatWouldCrashOrExhaustMemoryAreRefusedWithTheReason) {
    TestFolder folder;
    const TilvexProgram program(folder);
    WriteBytes(folder.File("a.tsx"), "<tileset name=\"a\" tilewidth=\"4\" tileheight=\"4\" tilecount=\"1\" columns=\"0\">"
                                     "<tile id=\"0\"><image source=\"0.png\" width=\"4\" height=\"4\"/></tile></tileset>");
    noise(QSize(4, 4), 5).save(folder.File("0.png"));
    const QString big = "<map orientation=\"orthogonal\" width=\"4\" height=\"4\" tilewidth=\"4\" tileheight=\"4\"><properties>"
                        "<property name=\"picturewidth\" type=\"int\" value=\"%1\"/><property name=\"pictureheight\" type=\"int\" "
                        "value=\"%1\"/></properties><tileset firstgid=\"1\" source=\"a.tsx\"/><layer name=\"l\" width=\"4\" "
                        "height=\"4\"><data encoding=\"csv\">1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1</data></layer></map>";
    const struct {
        const char* text;
        QString map;
        int status;
        const char* reason;
    } cases[] = {
        {"data before map", "<data encoding=\"csv\">1</data>", 1, "no map"},
        {"picture of 16000", big.arg(16000), 1, "picturewidth 16000 is not within a tile"},
        {"picture of 18", big.arg(18), 0, ""},
        {"picture of 13", big.arg(13), 0, ""},
        {"picture of 12", big.arg(12), 1, "picturewidth 12"},
    };
    for (const auto& c : cases) {
        WriteBytes(folder.File("m.tmx"), c.map.toUtf8());
        const TilvexResult run = program.Run({"compile", "--map", folder.File("m.tmx"), folder.File("out.png")});
        EXPECT_EQ(run.status, c.status) << c.text << run.err.toStdString();
        if (c.status != 0) {
            EXPECT_TRUE(run.err.contains(folder.File("m.tmx")) && run.err.contains(c.reason)) << c.text << run.err.toStdString();
        }
    }
}

// A tileset the user went on to edit in Tiled gets new tiles and keeps the rest.
TEST(TiledMaps, SplitIntoASharedTilesetKeepsWhatTiledSaved) {
    TestFolder folder;
    const TilvexProgram program(folder);
    noise(QSize(32, 16), 7).save(folder.File("one.png"));
    noise(QSize(48, 16), 8).save(folder.File("two.png"));
    const QStringList options = {"--unique", "--tile", "16", "--format", "png", "-q", "--tileset", folder.File("shared.tsx")};
    ASSERT_EQ(program.Run(QStringList{"split", folder.File("one.png"), folder.File("tiles")} + options).status, 0);
    QByteArray tileset = ReadBytes(folder.File("shared.tsx"));
    tileset.replace("name=\"shared\"", "name=\"walls\" class=\"level\"");
    tileset.replace("<grid", "<properties>\n  <property name=\"biome\" value=\"cave\"/>\n </properties>\n <grid");
    tileset.replace("</tileset>", " <wangsets>\n  <wangset name=\"w\" type=\"corner\" tile=\"-1\">\n   <wangtile tileid=\"1\" "
                                  "wangid=\"0,1,0,1,0,1,0,1\"/>\n  </wangset>\n </wangsets>\n</tileset>");
    tileset.replace("<tile id=\"0\">", "<tile id=\"0\" type=\"solid\">\n  <animation><frame tileid=\"1\" duration=\"9\"/></animation>");
    WriteBytes(folder.File("shared.tsx"), tileset);
    const TilvexResult run = program.Run(QStringList{"split", folder.File("two.png"), folder.File("tiles")} + options);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const TiledTileset read = LoadTileset(folder.File("shared.tsx"));
    EXPECT_EQ(read.name, "walls");
    EXPECT_EQ(read.className, "level");
    ASSERT_EQ(read.properties.size(), 1u);
    EXPECT_EQ(read.properties[0].value, "cave");
    ASSERT_EQ(read.wangSets.size(), 1u);
    EXPECT_EQ(read.tiles.size(), 5u);
    EXPECT_EQ(read.tileCount, 5);
    EXPECT_EQ(read.tiles.at(0).type, "solid");
    EXPECT_EQ(read.tiles.at(0).animation.size(), 1u);
    EXPECT_EQ(read.tiles.at(4).image.source, folder.File("tiles/4.png"));
}

}  // namespace
