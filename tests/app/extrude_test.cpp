#include "support/testsupport.h"
#include "tilvexrun.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QXmlStreamReader>

#include <functional>
#include <optional>

namespace {

const QString Examples = QStringLiteral("/usr/share/doc/tiled/examples/");

struct ToolRun {
    int status = -1;
    QString err;
};

ToolRun run(const QStringList& words) {
    QProcess process;
    process.start(words.front(), words.mid(1));
    if (!process.waitForFinished(120000)) {
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardError() + process.readAllStandardOutput())};
}

// tile-extruder from npm: the copy the setup script installs, else one on the PATH.
QStringList tileExtruder() {
    const QString node = QStandardPaths::findExecutable("node");
    if (!node.isEmpty() && QFileInfo::exists(QStringLiteral(TILVEX_TILE_EXTRUDER))) {
        return {node, QStringLiteral(TILVEX_TILE_EXTRUDER)};
    }
    const QString installed = QStandardPaths::findExecutable("tile-extruder");
    return installed.isEmpty() ? QStringList() : QStringList{installed};
}

// Pillow of Debian's own Python makes the sheets: RGBA noise with every alpha (the colour
// under alpha 0 included), RGB, and a palette with a transparent entry.
bool pillowSheet(const QString& mode, QSize size, const QString& path) {
    static const char* script =
        "import random, sys\n"
        "from PIL import Image\n"
        "mode, w, h, path = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]\n"
        "random.seed(w * 1000 + h)\n"
        "im = Image.new('RGBA', (w, h))\n"
        "im.putdata([tuple(random.randrange(256) for _ in range(3)) + (random.choice([0, 255, random.randrange(256)]),)"
        " for _ in range(w * h)])\n"
        "if mode == 'P':\n"
        "    im = im.convert('RGB').quantize(40)\n"
        "    im.save(path, transparency=3)\n"
        "else:\n"
        "    im.convert(mode).save(path)\n";
    return run({"/usr/bin/python3", "-c", script, mode, QString::number(size.width()), QString::number(size.height()), path})
               .status == 0;
}

QImage rgba(const QString& path) { return QImage(path).convertToFormat(QImage::Format_RGBA8888); }

// The first pixel where two pictures differ, or "" where none does; alpha 0 is alpha 0
// whatever the colour under it where lenient.
QString mismatch(const QImage& ours, const QImage& theirs, bool lenient) {
    if (ours.size() != theirs.size()) {
        return QStringLiteral("%1x%2 against %3x%4").arg(ours.width()).arg(ours.height()).arg(theirs.width()).arg(theirs.height());
    }
    for (int y = 0; y < ours.height(); ++y) {
        for (int x = 0; x < ours.width(); ++x) {
            const QRgb a = ours.pixel(x, y);
            const QRgb b = theirs.pixel(x, y);
            if (a != b && !(lenient && qAlpha(a) == 0 && qAlpha(b) == 0)) {
                return QStringLiteral("at %1,%2: %3 against %4").arg(x).arg(y).arg(a, 8, 16).arg(b, 8, 16);
            }
        }
    }
    return QString();
}

TEST(Extrude, PixelsEqualTileExtrudersOnSheetsOfOtherTools) {
    const QStringList extruder = tileExtruder();
    if (extruder.isEmpty()) {
        GTEST_SKIP() << "tile-extruder (npm) is not installed: bash scripts/setup.sh installs it where npm is";
    }
    struct Case {
        QString sheet;  // a Pillow mode, or a file of Debian's tiled
        QSize tile;
        int margin;
        int spacing;
        int n;
        QSize cells;  // for the sheets Pillow makes
    };
    const Case cases[] = {
        {"RGBA", {16, 16}, 0, 0, 1, {4, 3}},
        {"RGBA", {7, 5}, 3, 0, 2, {3, 4}},
        {"RGB", {12, 8}, 0, 1, 4, {2, 3}},
        {"P", {8, 8}, 1, 2, 3, {3, 2}},
        {"P", {10, 6}, 0, 0, 1, {2, 2}},
        {Examples + "tmw_desert_spacing.png", {32, 32}, 1, 1, 1, {}},
        {Examples + "rpg/beach_tileset.png", {16, 16}, 0, 0, 2, {}},
        {Examples + "buch-outdoor.png", {16, 16}, 0, 0, 4, {}},
        {Examples + "perspective_walls.png", {64, 64}, 0, 0, 3, {}},
    };
    TestFolder folder;
    const TilvexProgram tilvex(folder);
    int k = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sheet.toStdString() << " tile " << c.tile.width() << "x" << c.tile.height()
                                        << " margin " << c.margin << " spacing " << c.spacing << " extrude " << c.n);
        QString sheet = c.sheet;
        if (!c.cells.isEmpty()) {
            sheet = folder.File(QStringLiteral("sheet%1.png").arg(++k));
            const QSize size(2 * c.margin + c.cells.width() * (c.tile.width() + c.spacing) - c.spacing,
                             2 * c.margin + c.cells.height() * (c.tile.height() + c.spacing) - c.spacing);
            if (!pillowSheet(c.sheet, size, sheet)) {
                GTEST_SKIP() << "Pillow (Debian python3-pil) is not installed";
            }
        } else if (!QFileInfo::exists(sheet)) {
            ADD_FAILURE() << "missing; is Debian's tiled installed?";
            continue;
        }
        const QString ours = folder.File("ours.png");
        const QString theirs = folder.File("theirs.png");
        const QString tile = QStringLiteral("%1x%2").arg(c.tile.width()).arg(c.tile.height());
        const TilvexResult mine = tilvex.Run({"extrude", sheet, ours, "--tile", tile, "--margin", QString::number(c.margin),
                                              "--spacing", QString::number(c.spacing), "--extrude", QString::number(c.n)});
        ASSERT_EQ(mine.status, 0) << mine.err.toStdString();
        EXPECT_TRUE(mine.out.contains(QStringLiteral("tileset margin %1, spacing %2").arg(c.margin + c.n).arg(c.spacing + 2 * c.n)))
            << mine.out.toStdString();
        const ToolRun other = run(extruder + QStringList{"--tileWidth", QString::number(c.tile.width()), "--tileHeight",
                                                    QString::number(c.tile.height()), "--margin", QString::number(c.margin),
                                                    "--spacing", QString::number(c.spacing), "--extrusion",
                                                    QString::number(c.n), "--color", "0x00000000", "--input", sheet,
                                                    "--output", theirs});
        ASSERT_EQ(other.status, 0) << other.err.toStdString();
        const bool indexed = QImage(sheet).format() == QImage::Format_Indexed8;
        EXPECT_EQ(QImage(ours).format() == QImage::Format_Indexed8, indexed);
        EXPECT_EQ(mismatch(rgba(ours), rgba(theirs), indexed), QString());
    }
}

// A map of 6 by 4 cells of 16 by 24 over the tileset: ids out of order, repeated, and one
// flipped each way.
void writeMap(const QString& path, const QString& tileset) {
    QStringList gids;
    for (int cell = 0; cell < 24; ++cell) {
        const quint32 flip = cell == 5 ? 0x80000000u : cell == 11 ? 0x40000000u : 0;
        gids += QString::number(flip | static_cast<quint32>((cell * 7) % 15 + 1));
    }
    WriteBytes(path, QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                    "<map version=\"1.8\" orientation=\"orthogonal\" renderorder=\"right-down\" width=\"6\" "
                                    "height=\"4\" tilewidth=\"16\" tileheight=\"24\" infinite=\"0\" nextlayerid=\"2\" nextobjectid=\"1\">\n"
                                    " <tileset firstgid=\"1\" source=\"%1\"/>\n"
                                    " <layer id=\"1\" name=\"ground\" width=\"6\" height=\"4\">\n"
                                    "  <data encoding=\"csv\">%2</data>\n"
                                    " </layer>\n"
                                    "</map>\n")
                         .arg(tileset, gids.join(','))
                         .toUtf8());
}

using Drawer = std::function<QStringList(const QString& map, const QString& png)>;

Drawer byTilvex(const TilvexProgram& tilvex) {
    return [program = tilvex.Path()](const QString& map, const QString& png) {
        return QStringList{program, "compile", "--map", map, png, "-q"};
    };
}

// Tiled's tmxrasterizer, or none where it is not installed.
std::optional<Drawer> byTiled() {
    const QString rasterizer = QStandardPaths::findExecutable("tmxrasterizer");
    if (rasterizer.isEmpty()) {
        return std::nullopt;
    }
    return [rasterizer](const QString& map, const QString& png) { return QStringList{rasterizer, "--no-smoothing", map, png}; };
}

// The first difference between the pictures of two maps drawn by one program, or "".
QString drawnDifference(const Drawer& draw, const TestFolder& folder, const QString& before, const QString& after) {
    QImage drawn[2];
    const QString maps[2] = {before, after};
    for (int i = 0; i < 2; ++i) {
        const QString png = folder.File(QStringLiteral("drawn%1.png").arg(i));
        QFile::remove(png);
        const ToolRun done = run(draw(maps[i], png));
        if (done.status != 0) {
            return maps[i] + ": " + done.err;
        }
        drawn[i] = rgba(png);
    }
    return drawn[0].isNull() ? QStringLiteral("nothing drawn") : mismatch(drawn[0], drawn[1], false);
}

// Both programs draw the two maps alike; without tmxrasterizer, the test says it skipped it.
void expectSameDrawings(const TilvexProgram& tilvex, const TestFolder& folder, const QString& before, const QString& after) {
    EXPECT_EQ(drawnDifference(byTilvex(tilvex), folder, before, after), QString());
    const auto tiled = byTiled();
    if (!tiled) {
        GTEST_SKIP() << "tmxrasterizer (Debian package tiled) is not installed";
    }
    EXPECT_EQ(drawnDifference(*tiled, folder, before, after), QString());
}

TEST(Extrude, AMapDrawsTheSameOverTheCompiledSheetExtruded) {
    TestFolder folder;
    const TilvexProgram tilvex(folder);
    QImage source(5 * 16, 3 * 24, QImage::Format_ARGB32);
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            source.setPixel(x, y, qRgba(x * 3, y * 3, (x * y) & 255, x % 16 == 0 ? 128 : 255));
        }
    }
    ASSERT_TRUE(source.save(folder.File("source.png"), "PNG"));
    ASSERT_TRUE(QDir(folder.Path()).mkpath("maps"));
    ASSERT_TRUE(QDir(folder.Path()).mkpath("plain"));
    ASSERT_TRUE(QDir(folder.Path()).mkpath("extruded"));
    const QStringList grid = {"--tile", "16x24", "--margin", "2", "--spacing", "1", "--format", "png", "-q"};
    TilvexResult result = tilvex.Run({"split", folder.File("source.png"), folder.File("tiles"), "--tile", "16x24", "--format", "png"});
    ASSERT_EQ(result.status, 0) << result.err.toStdString();
    const char* const kinds[2] = {"plain", "extruded"};
    for (int i = 0; i < 2; ++i) {
        QStringList arguments = {"compile", folder.File("tiles"), folder.File(kinds[i]), "--width", "4", "--tileset",
                                 folder.File(QStringLiteral("maps/%1.tsx").arg(kinds[i]))};
        if (i == 1) {
            arguments += {"--extrude", "3"};
        }
        result = tilvex.Run(arguments + grid);
        ASSERT_EQ(result.status, 0) << result.err.toStdString();
        writeMap(folder.File(QStringLiteral("maps/%1.tmx").arg(kinds[i])), QStringLiteral("%1.tsx").arg(kinds[i]));
    }
    // Four by four cells in the grid the tileset reads: margin 2 + 3, spacing 1 + 6.
    EXPECT_EQ(QImage(folder.File("extruded/Tiles.png")).size(), QSize(2 * 5 + 4 * 16 + 3 * 7, 2 * 5 + 4 * 24 + 3 * 7));
    expectSameDrawings(tilvex, folder, folder.File("maps/plain.tmx"), folder.File("maps/extruded.tmx"));
}

// Every element of a tileset file in order, with its attributes and text, one line each;
// the attributes an extrusion owns are left out.
QStringList keptParts(const QString& tsx) {
    QFile file(tsx);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << tsx.toStdString();
    QXmlStreamReader xml(&file);
    QStringList parts;
    QStringList path;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            path += xml.name().toString();
            QString line = path.join('/');
            for (const QXmlStreamAttribute& a : xml.attributes()) {
                const bool owned = (path.join('/') == "tileset" && (a.name() == u"margin" || a.name() == u"spacing")) ||
                                   (path.join('/') == "tileset/image" &&
                                    (a.name() == u"source" || a.name() == u"width" || a.name() == u"height"));
                if (!owned) {
                    line += QStringLiteral(" %1=%2").arg(a.name(), a.value());
                }
            }
            parts += line;
        } else if (xml.isEndElement()) {
            path.removeLast();
        } else if (xml.isCharacters() && !xml.isWhitespace()) {
            parts += path.join('/') + " text " + xml.text().toString();
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return parts;
}

// A tileset with what Tiled keeps in one: properties, per-tile data, collision shapes, an
// animation, a wang set, and an element and attributes no version of the tool knows.
const char* const RichTileset =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<tileset version=\"1.10\" tiledversion=\"1.10.2\" name=\"rich\" class=\"ground\" tilewidth=\"16\" "
    "tileheight=\"24\" spacing=\"1\" margin=\"2\" tilecount=\"15\" columns=\"5\" objectalignment=\"bottom\" "
    "futureattribute=\"x\">\n"
    " <editorsettings><export target=\"rich.lua\" format=\"lua\"/></editorsettings>\n"
    " <tileoffset x=\"0\" y=\"4\"/>\n"
    " <image source=\"sheet/Tiles.png\" width=\"88\" height=\"78\"/>\n"
    " <properties><property name=\"biome\" value=\"desert\"/><property name=\"speed\" type=\"float\" value=\"1.5\"/></properties>\n"
    " <tile id=\"3\" type=\"wall\" probability=\"0.25\">\n"
    "  <properties><property name=\"solid\" type=\"bool\" value=\"true\"/></properties>\n"
    "  <objectgroup draworder=\"index\" id=\"2\"><object id=\"1\" x=\"0\" y=\"8\" width=\"16\" height=\"16\"/>"
    "<object id=\"2\" x=\"2\" y=\"2\"><polygon points=\"0,0 4,0 4,4\"/></object></objectgroup>\n"
    "  <animation><frame tileid=\"3\" duration=\"100\"/><frame tileid=\"4\" duration=\"120\"/></animation>\n"
    " </tile>\n"
    " <wangsets><wangset name=\"paths\" type=\"edge\" tile=\"-1\"><wangcolor name=\"dirt\" color=\"#ff0000\" tile=\"-1\" "
    "probability=\"1\"/><wangtile tileid=\"2\" wangid=\"1,0,1,0,0,0,0,0\"/></wangset></wangsets>\n"
    " <futureelement answer=\"42\">kept</futureelement>\n"
    "</tileset>\n";

TEST(Extrude, ATilesetKeepsAllButItsGridAndMapsDrawTheSame) {
    TestFolder folder;
    const TilvexProgram tilvex(folder);
    // The sheet of the rich tileset: 5 by 3 tiles of 16 by 24, margin 2, spacing 1.
    QImage sheet(88, 78, QImage::Format_ARGB32);
    for (int y = 0; y < sheet.height(); ++y) {
        for (int x = 0; x < sheet.width(); ++x) {
            sheet.setPixel(x, y, qRgba(x * 3, y * 3, (x * y) & 255, 255));
        }
    }
    ASSERT_TRUE(QDir(folder.Path()).mkpath("maps/sheet"));
    ASSERT_TRUE(QDir(folder.Path()).mkpath("out"));
    ASSERT_TRUE(sheet.save(folder.File("maps/sheet/Tiles.png"), "PNG"));
    WriteBytes(folder.File("maps/rich.tsx"), RichTileset);

    struct Case {
        QString tileset;  // as given
        QString out;      // the extruded tileset
        QString n;
        int margin;
        int spacing;
    };
    const Case cases[] = {
        {folder.File("maps/rich.tsx"), folder.File("out/rich-x.tsx"), "2", 4, 5},
        {Examples + "desert.tsx", folder.File("maps/desert.tsx"), "3", 4, 7},
        {Examples + "rpg/beach_tileset.tsx", folder.File("out/beach.tsx"), "1", 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tileset.toStdString());
        if (!QFileInfo::exists(c.tileset)) {
            ADD_FAILURE() << "missing; is Debian's tiled installed?";
            continue;
        }
        const TilvexResult result = tilvex.Run({"extrude", c.tileset, c.out, "--extrude", c.n});
        ASSERT_EQ(result.status, 0) << result.err.toStdString();
        EXPECT_EQ(keptParts(c.out), keptParts(c.tileset));
        QFile file(c.out);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        EXPECT_TRUE(text.contains(QStringLiteral("margin=\"%1\"").arg(c.margin))) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("spacing=\"%1\"").arg(c.spacing))) << text.toStdString();
        const QString png = QFileInfo(c.out).completeBaseName() + ".png";
        EXPECT_TRUE(text.contains(QStringLiteral("source=\"%1\"").arg(png))) << text.toStdString();
        const QSize size = QImage(QFileInfo(c.out).dir().filePath(png)).size();
        EXPECT_TRUE(text.contains(QStringLiteral("width=\"%1\" height=\"%2\"").arg(size.width()).arg(size.height())))
            << text.toStdString();
    }

    // A map of ours over the rich tileset and over its extrusion, drawn by both programs.
    writeMap(folder.File("maps/before.tmx"), "rich.tsx");
    writeMap(folder.File("out/after.tmx"), "rich-x.tsx");
    expectSameDrawings(tilvex, folder, folder.File("maps/before.tmx"), folder.File("out/after.tmx"));
    const auto tiled = byTiled();
    if (!tiled) {
        return;
    }
    // Tiled's own desert map over its tileset and over the extrusion that replaced it.
    ASSERT_TRUE(QFile::copy(Examples + "desert.tmx", folder.File("maps/desert.tmx")));
    EXPECT_EQ(drawnDifference(*tiled, folder, Examples + "desert.tmx", folder.File("maps/desert.tmx")), QString());
}

TEST(Extrude, RefusesWhatHasNoSheetOrWouldLoseOne) {
    TestFolder folder;
    const TilvexProgram tilvex(folder);
    QImage tile(8, 8, QImage::Format_ARGB32);
    tile.fill(0xff336699u);
    ASSERT_TRUE(tile.save(folder.File("t.png"), "PNG"));
    WriteBytes(folder.File("collection.tsx"),
               "<tileset name=\"c\" tilewidth=\"8\" tileheight=\"8\" tilecount=\"1\" columns=\"0\">"
               "<tile id=\"0\"><image source=\"t.png\" width=\"8\" height=\"8\"/></tile></tileset>");
    WriteBytes(folder.File("sheet.tsx"), "<tileset name=\"s\" tilewidth=\"8\" tileheight=\"8\" tilecount=\"1\" columns=\"1\">"
                                         "<image source=\"t.png\" width=\"8\" height=\"8\"/></tileset>");
    struct Case {
        QStringList arguments;
        QString reason;
    };
    const Case cases[] = {
        {{"collection.tsx", "out.tsx"}, "image-collection"},
        // Its sheet would be t.png, the tileset's own image.
        {{"sheet.tsx", "t.tsx"}, "own image"},
        {{"sheet.tsx", "out.tsx", "--tile", "8"}, "takes its grid from the tileset"},
        {{"t.png", "t.png", "--tile", "8"}, "its own source"},
        {{"t.png", "out.jpg", "--tile", "8"}, ".png or .bmp"},
        {{"t.png", "out.png", "--tile", "9"}, "larger than the 8x8 sheet"},
        {{"t.png", "out.png", "--tile", "8", "--margin", "4000", "--extrude", "97"}, "past 4096"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QStringList arguments = {"extrude"};
        for (const QString& word : c.arguments) {
            arguments += word.contains('.') ? folder.File(word) : word;
        }
        const TilvexResult result = tilvex.Run(arguments);
        EXPECT_EQ(result.status, 2) << result.err.toStdString();
        EXPECT_TRUE(result.err.contains(c.reason)) << result.err.toStdString();
    }
    EXPECT_EQ(QImage(folder.File("t.png")), tile.convertToFormat(QImage::Format_ARGB32));
    EXPECT_FALSE(QFileInfo::exists(folder.File("out.png")));
}

}  // namespace
