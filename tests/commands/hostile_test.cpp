// Maps and tilesets as a hostile or careless hand leaves them, through optimize and extrude.
#include "commands/extrude.h"
#include "commands/optimize.h"
#include "runtime/limits.h"
#include "support/testsupport.h"
#include "tiled/tiledfiles.h"
#include "tiled/xmltree.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>

#include <gtest/gtest.h>

namespace {
// A sheet of count tiles of side pixels, columns a row, each tile painted by paint.
void writeSheet(const QString& path, int side, int count, int columns, const std::function<QRgb(int, int, int)>& paint) {
    const int rows = (count + columns - 1) / columns;
    QImage sheet(columns * side, rows * side, QImage::Format_RGBA8888);
    for (int y = 0; y < sheet.height(); ++y) {
        for (int x = 0; x < sheet.width(); ++x) {
            sheet.setPixel(x, y, paint((y / side) * columns + x / side, x % side, y % side));
        }
    }
    ASSERT_TRUE(sheet.save(path));
}

QString tileset(const QString& attributes, const QString& inside, int side, int count, int columns, const QString& image) {
    return QStringLiteral("<tileset version=\"1.10\" name=\"t\" tilewidth=\"%1\" tileheight=\"%1\" tilecount=\"%2\" columns=\"%3\"%4>\n"
                          " <image source=\"%5\" width=\"%6\" height=\"%7\"/>\n%8</tileset>")
        .arg(side)
        .arg(count)
        .arg(columns)
        .arg(attributes, image)
        .arg(columns * side)
        .arg((count + columns - 1) / columns * side)
        .arg(inside);
}

QString map(const QString& attributes, const QString& inside, int side, int width, int height, const QString& csv) {
    return QStringLiteral("<map version=\"1.10\" orientation=\"orthogonal\" renderorder=\"right-down\" width=\"%1\" height=\"%2\" "
                          "tilewidth=\"%3\" tileheight=\"%3\" infinite=\"0\" nextlayerid=\"9\" nextobjectid=\"9\"%4>\n"
                          " <tileset firstgid=\"1\" source=\"t.tsx\"/>\n"
                          " <layer id=\"1\" name=\"g\" width=\"%1\" height=\"%2\">\n  <data encoding=\"csv\">%5</data>\n </layer>\n%6</map>")
        .arg(width)
        .arg(height)
        .arg(side)
        .arg(attributes, csv, inside);
}

QString why(const CommandResult& result) {
    return result.refusal ? result.refusal->reason : result.failure ? result.failure->Description() : QStringLiteral("it ran");
}

QString whose(const CommandResult& result) {
    return result.refusal ? result.refusal->file : result.failure ? result.failure->File() : QString();
}

// A small game: an 8x8 sheet of 4 tiles, its tileset and a map of them, each file with
// what the hand adds.
struct Game {
    Game(const TestFolder& folder, const QString& tilesetAttributes = {}, const QString& tilesetInside = {},
         const QString& mapAttributes = {}, const QString& mapInside = {}, const QByteArray& outside = {})
        : root(folder.Path()) {
        writeSheet(folder.File("t.png"), 8, 4, 2, [](int tile, int x, int y) { return qRgba(tile * 60, x * 30, y * 30, 255); });
        WriteBytes(folder.File("t.tsx"), outside + tileset(tilesetAttributes, tilesetInside, 8, 4, 2, "t.png").toUtf8() + outside);
        WriteBytes(folder.File("m.tmx"), outside + map(mapAttributes, mapInside, 8, 2, 1, "1,4").toUtf8() + outside);
    }
    QString File(const QString& name) const { return root + "/" + name; }
    QString root;
};

TEST(Hostile, NamespacesAndCommentsAroundTheRootComeBackFromOptimizeAndExtrude) {
    TestFolder folder;
    const QString ns = QStringLiteral(" xmlns:ed=\"urn:ed\" ed:rev=\"3\"");
    const QString meta = QStringLiteral(" <ed:meta ed:by=\"hand\">kept</ed:meta>\n");
    const Game game(folder, ns, meta, ns, meta, "<!-- by hand -->\n<?editor v=\"2\"?>\n");
    OptimizeRequest optimize{{game.File("m.tmx")}, game.File("out"), {}, false};
    const OptimizeResult optimized = RunOptimize(optimize);
    ASSERT_TRUE(optimized.Ok()) << why(optimized).toStdString();
    ExtrudeRequest extrude{game.File("t.tsx"), game.File("x/t.tsx"), {}, false};
    extrude.options.extrude = 1;
    ASSERT_TRUE(QDir(game.root).mkdir("x"));
    const ExtrudeResult extruded = RunExtrude(extrude);
    ASSERT_TRUE(extruded.Ok()) << why(extruded).toStdString();

    for (const QString& written : {game.File("out/m.tmx"), game.File("out/tileset.tsx"), game.File("x/t.tsx")}) {
        SCOPED_TRACE(written.toStdString());
        const QByteArray bytes = ReadBytes(written);
        for (const char* kept : {"xmlns:ed=\"urn:ed\" ed:rev=\"3\"", "<ed:meta ed:by=\"hand\">kept</ed:meta>",
                                 "<!-- by hand -->\n<?editor v=\"2\"?>\n<", ">\n<!-- by hand -->\n<?editor v=\"2\"?>"}) {
            EXPECT_TRUE(bytes.contains(kept)) << kept << " in\n" << bytes.toStdString();
        }
        EXPECT_NO_THROW(written.endsWith(".tmx") ? (void)LoadMap(written) : (void)LoadTileset(written));
    }
}

TEST(Hostile, DeepAndSwollenFilesAreRefusedNamingTheFileBeforeAnythingIsWritten) {
    const QByteArray deep = QByteArray("<g>").repeated(60000) + QByteArray("</g>").repeated(60000) + "\n";
    const QByteArray swollen = "<ed:s xmlns:ed=\"urn:ed\" a=\"" + QByteArray("&e;").repeated(200000) + "\"/>\n";
    const QByteArray entity = "<!DOCTYPE map [<!ENTITY e \"" + QByteArray(4000, 'x') + "\">]>\n";
    const struct {
        const char* what;
        bool inMap;
        QByteArray inside;
        QByteArray before;
        const char* says;
    } cases[] = {
        {"a map nested 60,000 deep", true, deep, {}, "nested more than"},
        {"a tileset nested 60,000 deep", false, deep, {}, "nested more than"},
        {"a map swollen by its entity", true, swollen, entity, "entities"},
        {"a tileset swollen by its entity", false, swollen, entity, "entities"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestFolder folder;
        const Game game(folder);
        const QString hostile = game.File(c.inMap ? "m.tmx" : "t.tsx");
        QByteArray bytes = ReadBytes(hostile);
        bytes.insert(bytes.lastIndexOf("</"), c.inside);
        WriteBytes(hostile, c.before + bytes);

        OptimizeRequest optimize{{game.File("m.tmx")}, game.File("out"), {}, false};
        const OptimizeResult optimized = RunOptimize(optimize);
        ASSERT_FALSE(optimized.Ok());
        EXPECT_EQ(QFileInfo(whose(optimized)).absoluteFilePath(), hostile);
        EXPECT_TRUE(why(optimized).contains(c.says)) << why(optimized).toStdString();
        EXPECT_FALSE(QFileInfo::exists(game.File("out")));
        if (!c.inMap) {
            const ExtrudeResult extruded = RunExtrude(ExtrudeRequest{hostile, game.File("x.tsx"), {}, false});
            ASSERT_FALSE(extruded.Ok());
            EXPECT_EQ(QFileInfo(whose(extruded)).absoluteFilePath(), hostile);
            EXPECT_FALSE(QFileInfo::exists(game.File("x.png")));
        }
    }
}

// Tile 1 is tile 0 turned a quarter; drawn as a tile object of another width than height, a
// turned tile 0 in its place would be stretched the other way.
TEST(Hostile, FlipsLeaveTileObjectsOfAnotherWidthThanHeightTheirOwnTile) {
    const struct {
        const char* size;
        int tiles;
    } cases[] = {{"width=\"16\" height=\"8\"", 2}, {"width=\"16\" height=\"16\"", 1}, {"", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        TestFolder folder;
        const Game game(folder);
        // Tile 0 a pattern of its own, tile 1 the same turned clockwise.
        writeSheet(game.File("t.png"), 8, 4, 2, [](int tile, int x, int y) {
            const int u = tile == 1 ? y : x, v = tile == 1 ? 7 - x : y;
            return tile < 2 ? qRgba(u * 30, v * 30, u * v, 255) : qRgba(tile * 60, 0, 0, 255);
        });
        WriteBytes(game.File("m.tmx"), map({}, QStringLiteral(" <objectgroup id=\"2\" name=\"o\">\n  <object id=\"1\" gid=\"2\" x=\"0\" "
                                                               "y=\"8\" %1/>\n </objectgroup>\n").arg(c.size), 8, 2, 1, "1,2").toUtf8());
        OptimizeRequest optimize{{game.File("m.tmx")}, game.File("out"), {}, false};
        optimize.options.flips = true;
        const OptimizeResult result = RunOptimize(optimize);
        ASSERT_TRUE(result.Ok()) << why(result).toStdString();
        EXPECT_EQ(result.CountOf("tiles"), c.tiles);
    }
}

TEST(Hostile, OptimizeRefusesAnOutThatHoldsAFileAMapNames) {
    const struct {
        const char* what;
        QString inside;
        QString out;
    } cases[] = {
        {"an image layer's picture", " <imagelayer id=\"3\" name=\"sky\">\n  <image source=\"game/tileset.png\"/>\n </imagelayer>\n", "game"},
        {"a file property", " <properties>\n  <property name=\"next\" type=\"file\" value=\"game/next.tmx\"/>\n </properties>\n", "game"},
        {"an object's template", " <objectgroup id=\"2\" name=\"o\">\n  <object id=\"1\" template=\"game/tree.tx\" x=\"0\" y=\"0\"/>\n"
                                 " </objectgroup>\n", "game"},
        {"the root folder", "", "/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestFolder folder;
        const Game game(folder);
        WriteBytes(game.File("m.tmx"), map({}, c.inside, 8, 2, 1, "1,4").toUtf8());
        ASSERT_TRUE(QDir(game.root).mkdir("game"));
        writeSheet(game.File("game/tileset.png"), 8, 1, 1, [](int, int, int) { return qRgba(1, 2, 3, 255); });
        WriteBytes(game.File("game/tree.tx"), "<template><object width=\"8\" height=\"8\"/></template>");
        const QByteArray before = ReadBytes(game.File("game/tileset.png"));
        OptimizeRequest optimize{{game.File("m.tmx")}, c.out == "/" ? c.out : game.File(c.out), {}, false};
        const OptimizeResult result = RunOptimize(optimize);
        ASSERT_TRUE(result.refusal.has_value()) << why(result).toStdString();
        EXPECT_TRUE(result.refusal->reason.contains("holds")) << result.refusal->reason.toStdString();
        EXPECT_EQ(ReadBytes(game.File("game/tileset.png")), before);
    }
}

TEST(Hostile, OptimizeTakesSecondsForTwentyThousandTilesCarryingAProperty) {
    constexpr int count = 20000, columns = 200;
    TestFolder folder;
    const Game game(folder);
    writeSheet(game.File("t.png"), 2, count, columns, [](int, int, int) { return qRgba(9, 9, 9, 255); });
    QString tiles, csv;
    for (int id = 0; id < count; ++id) {
        tiles += QStringLiteral(" <tile id=\"%1\">\n  <properties>\n   <property name=\"n\" type=\"int\" value=\"%1\"/>\n"
                                "  </properties>\n </tile>\n").arg(id);
        csv += QString::number(id + 1) + (id + 1 < count ? "," : "");
    }
    WriteBytes(game.File("t.tsx"), tileset({}, tiles, 2, count, columns, "t.png").toUtf8());
    WriteBytes(game.File("m.tmx"), map({}, {}, 2, columns, count / columns, csv).toUtf8());
    const OptimizeResult result = RunOptimize(OptimizeRequest{{game.File("m.tmx")}, game.File("out"), {}, false});
    ASSERT_TRUE(result.Ok()) << why(result).toStdString();
    EXPECT_EQ(result.CountOf("tiles"), count);
}
}  // namespace
