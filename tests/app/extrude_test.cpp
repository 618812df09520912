#include "support/testsupport.h"
#include "tilvexrun.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QXmlStreamReader>

namespace {

const QString Examples = QStringLiteral("/usr/share/doc/tiled/examples/");

// Runs a program; its status, or -1 where it did not end normally.
int run(const QStringList& words, QString* err = nullptr) {
    QProcess process;
    process.start(words.front(), words.mid(1));
    const bool ended = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
    if (err != nullptr) {
        *err = QString::fromLocal8Bit(process.readAllStandardError());
    }
    return ended ? process.exitCode() : -1;
}

// The first pixel where two pictures differ, or ""; alpha 0 is alpha 0 whatever the colour
// under it where lenient (a palette's transparent entry).
QString mismatch(const QString& ours, const QString& theirs, bool lenient = false) {
    const QImage a = QImage(ours).convertToFormat(QImage::Format_RGBA8888);
    const QImage b = QImage(theirs).convertToFormat(QImage::Format_RGBA8888);
    if (a.size() != b.size() || a.isNull()) {
        return QStringLiteral("%1x%2 against %3x%4").arg(a.width()).arg(a.height()).arg(b.width()).arg(b.height());
    }
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y) && !(lenient && qAlpha(a.pixel(x, y)) == 0 && qAlpha(b.pixel(x, y)) == 0)) {
                return QStringLiteral("at %1,%2: %3 against %4").arg(x).arg(y).arg(a.pixel(x, y), 8, 16).arg(b.pixel(x, y), 8, 16);
            }
        }
    }
    return QString();
}

// Pillow of Debian's own Python makes a sheet of noise in a mode: RGBA with every alpha (the
// colour under alpha 0 too), RGB, or a palette with a transparent entry.
bool pillowSheet(const QString& mode, QSize size, const QString& path) {
    static const char* script =
        "import random, sys\nfrom PIL import Image\n"
        "mode, w, h, path = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]\n"
        "random.seed(w * 1000 + h)\nim = Image.new('RGBA', (w, h))\n"
        "im.putdata([tuple(random.randrange(256) for _ in range(3)) + (random.choice([0, 255, random.randrange(256)]),)"
        " for _ in range(w * h)])\n"
        "if mode == 'P':\n    im.convert('RGB').quantize(40).save(path, transparency=3)\nelse:\n    im.convert(mode).save(path)\n";
    return run({"/usr/bin/python3", "-c", script, mode, QString::number(size.width()), QString::number(size.height()), path}) == 0;
}

TEST(Extrude, PixelsEqualTileExtrudersOnSheetsOfOtherTools) {
    QStringList extruder = {QStandardPaths::findExecutable("node"), QStringLiteral(TILVEX_TILE_EXTRUDER)};
    if (extruder[0].isEmpty() || !QFileInfo::exists(extruder[1])) {
        extruder = QStringList{QStandardPaths::findExecutable("tile-extruder")};
    }
    if (extruder[0].isEmpty()) {
        GTEST_SKIP() << "tile-extruder (npm) is not installed: bash scripts/setup.sh installs it where npm is";
    }
    struct Case {
        QString sheet;  // a Pillow mode, or a sheet of Debian's tiled
        QSize tile;
        int margin, spacing, n;
        QSize cells;  // of the sheets Pillow makes
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
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sheet.toStdString() << " tile " << c.tile.width() << "x" << c.tile.height()
                                        << " margin " << c.margin << " spacing " << c.spacing << " extrude " << c.n);
        QString sheet = c.sheet;
        if (!c.cells.isEmpty()) {
            sheet = folder.File(c.sheet + ".png");
            const QSize size = QSize(2 * c.margin - c.spacing, 2 * c.margin - c.spacing) +
                               QSize(c.cells.width() * (c.tile.width() + c.spacing), c.cells.height() * (c.tile.height() + c.spacing));
            if (!pillowSheet(c.sheet, size, sheet)) {
                GTEST_SKIP() << "Pillow (Debian python3-pil) is not installed";
            }
        }
        const auto number = [](int n) { return QString::number(n); };
        const TilvexResult ours = tilvex.Run({"extrude", sheet, folder.File("ours.png"), "--tile",
                                              number(c.tile.width()) + "x" + number(c.tile.height()), "--margin", number(c.margin),
                                              "--spacing", number(c.spacing), "--extrude", number(c.n)});
        ASSERT_EQ(ours.status, 0) << ours.err.toStdString();
        EXPECT_TRUE(ours.out.contains(QStringLiteral("tileset margin %1, spacing %2").arg(c.margin + c.n).arg(c.spacing + 2 * c.n)))
            << ours.out.toStdString();
        QString err;
        ASSERT_EQ(run(extruder + QStringList{"--tileWidth", number(c.tile.width()), "--tileHeight", number(c.tile.height()),
                                             "--margin", number(c.margin), "--spacing", number(c.spacing), "--extrusion",
                                             number(c.n), "--color", "0x00000000", "--input", sheet, "--output",
                                             folder.File("theirs.png")},
                      &err),
                  0)
            << err.toStdString();
        const bool indexed = QImage(sheet).format() == QImage::Format_Indexed8;
        EXPECT_EQ(QImage(folder.File("ours.png")).format() == QImage::Format_Indexed8, indexed);
        EXPECT_EQ(mismatch(folder.File("ours.png"), folder.File("theirs.png"), indexed), QString());
    }
}

// A map of 6 by 4 cells of 16 by 24 over the tileset: ids out of order, repeated, flipped.
void writeMap(const QString& path, const QString& tileset) {
    QStringList gids;
    for (quint32 cell = 0; cell < 24; ++cell) {
        gids += QString::number((cell == 5 ? 0x80000000u : cell == 11 ? 0x40000000u : 0) | ((cell * 7) % 15 + 1));
    }
    WriteBytes(path, QStringLiteral("<map version=\"1.8\" orientation=\"orthogonal\" renderorder=\"right-down\" width=\"6\" "
                                    "height=\"4\" tilewidth=\"16\" tileheight=\"24\" infinite=\"0\" nextlayerid=\"2\" nextobjectid=\"1\">"
                                    "<tileset firstgid=\"1\" source=\"%1\"/><layer id=\"1\" name=\"ground\" width=\"6\" height=\"4\">"
                                    "<data encoding=\"csv\">%2</data></layer></map>\n")
                         .arg(tileset, gids.join(','))
                         .toUtf8());
}

// The pictures two maps give, drawn by tilvex and by Tiled's tmxrasterizer, where installed.
void expectSameDrawings(const TilvexProgram& tilvex, const TestFolder& folder, const QString& before, const QString& after) {
    const QString rasterizer = QStandardPaths::findExecutable("tmxrasterizer");
    for (int drawer = 0; drawer < (rasterizer.isEmpty() ? 1 : 2); ++drawer) {
        SCOPED_TRACE(drawer == 0 ? "tilvex" : "tmxrasterizer");
        QString png[2], err;
        for (int i = 0; i < 2; ++i) {
            png[i] = folder.File(QStringLiteral("drawn%1%2.png").arg(drawer).arg(i));
            const QString map = i == 0 ? before : after;
            const QStringList words = drawer == 0 ? QStringList{tilvex.Path(), "compile", "--map", map, png[i], "-q"}
                                                  : QStringList{rasterizer, "--no-smoothing", map, png[i]};
            ASSERT_EQ(run(words, &err), 0) << err.toStdString();
        }
        EXPECT_EQ(mismatch(png[0], png[1]), QString());
    }
    if (rasterizer.isEmpty()) {
        GTEST_SKIP() << "tmxrasterizer (Debian package tiled) is not installed";
    }
}

TEST(Extrude, MapsDrawTheSameOverACompiledSheetExtrudedAndAnExtrudedTileset) {
    TestFolder folder;
    const TilvexProgram tilvex(folder);
    QImage source(5 * 16, 3 * 24, QImage::Format_ARGB32);
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            source.setPixel(x, y, qRgba(x * 3, y * 3, (x * y) & 255, x % 16 == 0 ? 128 : 255));
        }
    }
    ASSERT_TRUE(source.save(folder.File("source.png"), "PNG"));
    for (const char* sub : {"maps", "plain", "extruded"}) {
        ASSERT_TRUE(QDir(folder.Path()).mkpath(sub));
    }
    TilvexResult result = tilvex.Run({"split", folder.File("source.png"), folder.File("tiles"), "--tile", "16x24", "--format", "png"});
    ASSERT_EQ(result.status, 0) << result.err.toStdString();
    const QStringList grid = {"--tile", "16x24", "--margin", "2", "--spacing", "1", "--format", "png", "--width", "4", "-q"};
    for (const QString kind : {"plain", "extruded"}) {
        result = tilvex.Run(QStringList{"compile", folder.File("tiles"), folder.File(kind), "--tileset", folder.File("maps/" + kind + ".tsx")} +
                            grid + (kind == "plain" ? QStringList() : QStringList{"--extrude", "3"}));
        ASSERT_EQ(result.status, 0) << result.err.toStdString();
        writeMap(folder.File("maps/" + kind + ".tmx"), kind + ".tsx");
    }
    // Four by four cells in the grid the tileset reads: margin 2 + 3, spacing 1 + 6.
    EXPECT_EQ(QImage(folder.File("extruded/Tiles.png")).size(), QSize(2 * 5 + 4 * 16 + 3 * 7, 2 * 5 + 4 * 24 + 3 * 7));
    result = tilvex.Run({"extrude", folder.File("maps/plain.tsx"), folder.File("maps/again.tsx"), "--extrude", "2"});
    ASSERT_EQ(result.status, 0) << result.err.toStdString();
    writeMap(folder.File("maps/again.tmx"), "again.tsx");
    expectSameDrawings(tilvex, folder, folder.File("maps/plain.tmx"), folder.File("maps/extruded.tmx"));
    expectSameDrawings(tilvex, folder, folder.File("maps/plain.tmx"), folder.File("maps/again.tmx"));
}

// Every element of a tileset file in order with its attributes and text, one line each;
// the attributes an extrusion owns left out.
QStringList keptParts(const QString& tsx) {
    QFile file(tsx);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << tsx.toStdString();
    QXmlStreamReader xml(&file);
    QStringList parts, path;
    while (xml.readNext() != QXmlStreamReader::Invalid && !xml.atEnd()) {
        if (xml.isStartElement()) {
            path += xml.name().toString();
            parts += path.join('/');
            for (const QXmlStreamAttribute& a : xml.attributes()) {
                const QString owned = path.size() == 1 ? "margin spacing" : path.join('/') == "tileset/image" ? "source width height" : "";
                if (!owned.split(' ').contains(a.name())) {
                    parts.back() += QStringLiteral(" %1=%2").arg(a.name(), a.value());
                }
            }
        } else if (xml.isEndElement()) {
            path.removeLast();
        } else if (xml.isCharacters() && !xml.isWhitespace()) {
            parts += path.join('/') + " " + xml.text().toString();
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return parts;
}

// A picture of one colour saved as a PNG; null where the save failed.
QImage onePicture(QSize size, const QString& path) {
    QImage picture(size, QImage::Format_ARGB32);
    picture.fill(0xff336699u);
    return picture.save(path, "PNG") ? picture : QImage();
}

TEST(Extrude, ATilesetKeepsAllButItsGridAndImage) {
    TestFolder folder;
    const TilvexProgram tilvex(folder);
    ASSERT_FALSE(onePicture(QSize(88, 78), folder.File("sheet.png")).isNull());
    ASSERT_TRUE(QDir(folder.Path()).mkpath("out"));
    // What Tiled keeps in a tileset: properties, per-tile data, collision shapes, animations, wang
    // sets, editor settings, and an element and attributes no version of the tool knows.
    WriteBytes(folder.File("rich.tsx"),
               "<tileset version=\"1.10\" name=\"rich\" class=\"ground\" tilewidth=\"16\" tileheight=\"24\" spacing=\"1\" margin=\"2\" "
               "tilecount=\"15\" columns=\"5\" objectalignment=\"bottom\" future=\"x\">\n <editorsettings><export target=\"r.lua\" "
               "format=\"lua\"/></editorsettings>\n <tileoffset x=\"0\" y=\"4\"/>\n <image source=\"sheet.png\" width=\"88\" "
               "height=\"78\"/>\n <properties><property name=\"speed\" type=\"float\" value=\"1.5\"/></properties>\n <tile id=\"3\" "
               "type=\"wall\" probability=\"0.25\"><objectgroup draworder=\"index\" id=\"2\"><object id=\"1\" x=\"2\" y=\"2\"><polygon "
               "points=\"0,0 4,0 4,4\"/></object></objectgroup><animation><frame tileid=\"3\" duration=\"100\"/></animation></tile>\n "
               "<wangsets><wangset name=\"paths\" type=\"edge\" tile=\"-1\"><wangcolor name=\"dirt\" color=\"#ff0000\" tile=\"-1\" "
               "probability=\"1\"/><wangtile tileid=\"2\" wangid=\"1,0,1,0,0,0,0,0\"/></wangset></wangsets>\n <future answer=\"42\">kept"
               "</future>\n</tileset>\n");
    struct Case {
        QString tileset, out, n;
        int margin, spacing;
    };
    const Case cases[] = {
        {folder.File("rich.tsx"), folder.File("out/rich-x.tsx"), "2", 4, 5},
        {Examples + "desert.tsx", folder.File("desert.tsx"), "3", 4, 7},
        {Examples + "rpg/beach_tileset.tsx", folder.File("out/beach.tsx"), "1", 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tileset.toStdString());
        const TilvexResult result = tilvex.Run({"extrude", c.tileset, c.out, "--extrude", c.n});
        ASSERT_EQ(result.status, 0) << result.err.toStdString();
        EXPECT_EQ(keptParts(c.out), keptParts(c.tileset));
        const QString png = QFileInfo(c.out).completeBaseName() + ".png";
        const QSize size = QImage(QFileInfo(c.out).dir().filePath(png)).size();
        const QString text = QString::fromUtf8(ReadBytes(c.out));
        for (const QString& owned : {QStringLiteral("margin=\"%1\"").arg(c.margin), QStringLiteral("spacing=\"%1\"").arg(c.spacing),
                                     QStringLiteral("<image source=\"%1\" width=\"%2\" height=\"%3\"").arg(png).arg(size.width()).arg(size.height())}) {
            EXPECT_TRUE(text.contains(owned)) << owned.toStdString() << " in " << text.toStdString();
        }
    }
    // Tiled's own desert map draws the same over the extrusion of its tileset.
    ASSERT_TRUE(QFile::copy(Examples + "desert.tmx", folder.File("desert.tmx")));
    expectSameDrawings(tilvex, folder, Examples + "desert.tmx", folder.File("desert.tmx"));
}

TEST(Extrude, RefusesWhatHasNoSheetOrWouldLoseOne) {
    TestFolder folder;
    const TilvexProgram tilvex(folder);
    const QImage tile = onePicture(QSize(8, 8), folder.File("t.png"));
    ASSERT_FALSE(tile.isNull());
    const QByteArray grid = "<tileset name=\"t\" tilewidth=\"8\" tileheight=\"8\" tilecount=\"1\" ";
    WriteBytes(folder.File("collection.tsx"), grid + "columns=\"0\"><tile id=\"0\"><image source=\"t.png\"/></tile></tileset>");
    WriteBytes(folder.File("sheet.tsx"), grid + "columns=\"1\"><image source=\"t.png\" width=\"8\" height=\"8\"/></tileset>");
    const QStringList cases[][2] = {
        {{"collection.tsx", "out.tsx"}, {"image-collection"}},
        {{"sheet.tsx", "t.tsx"}, {"would replace the tileset's own image"}},  // its sheet would be t.png
        {{"sheet.tsx", "out.tsx", "--tile", "8"}, {"takes its grid from the tileset"}},
        {{"t.png", "t.png", "--tile", "8"}, {"its own source"}},
        {{"t.png", "out.jpg", "--tile", "8"}, {".png or .bmp"}},
        {{"t.png", "out.png", "--tile", "9"}, {"larger than the 8x8 sheet"}},
    };
    for (const auto& [words, reason] : cases) {
        SCOPED_TRACE(words.join(' ').toStdString());
        QStringList arguments = {"extrude"};
        for (const QString& word : words) {
            arguments += word.contains('.') ? folder.File(word) : word;
        }
        const TilvexResult result = tilvex.Run(arguments);
        EXPECT_EQ(result.status, 2) << result.err.toStdString();
        EXPECT_TRUE(result.err.contains(reason[0])) << result.err.toStdString();
    }
    EXPECT_EQ(QImage(folder.File("t.png")), tile);
    EXPECT_FALSE(QFileInfo::exists(folder.File("out.png")));
}

}  // namespace
