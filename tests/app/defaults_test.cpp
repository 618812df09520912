#include "support/testsupport.h"
#include "tilvexrun.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QJsonDocument>
#include <QProcess>
#include <QSettings>

// What the batch program does without being told: PNG tiles of a picture with alpha, the grid a
// tile folder records, named sheets, .json maps, options that imply --unique, missing folders.
namespace {

class Defaults : public ::testing::Test {
protected:
    TilvexResult Run(const QStringList& arguments) const { return program_.Run(arguments); }
    QString File(const QString& name) const { return folder_.File(name); }

    static QImage Read(const QString& path) {
        QImageReader reader(path);
        reader.setDecideFormatFromContent(true);
        return reader.read().convertToFormat(QImage::Format_ARGB32);
    }

    // A sheet of 4 by 3 tiles of 16 by 16 with a border of 1 and no spacing, every tile half
    // transparent somewhere, written by Pillow where it is installed (another program's PNG),
    // else by Qt.
    QImage Sheet(const QString& path) const {
        QImage sheet(66, 50, QImage::Format_ARGB32);
        sheet.fill(0u);
        for (int y = 1; y < 49; ++y) {
            for (int x = 1; x < 65; ++x) {
                sheet.setPixel(x, y, qRgba(x * 3, y * 5, (x * y) % 256, (x + y) % 3 == 0 ? 0 : 128 + (x % 2) * 127));
            }
        }
        sheet.save(path + ".qt.png", "PNG");
        QProcess pillow;
        pillow.start("/usr/bin/python3", {"-c", "import sys; from PIL import Image; Image.open(sys.argv[1]).save(sys.argv[2])",
                                          path + ".qt.png", path});
        if (!pillow.waitForFinished(60000) || pillow.exitCode() != 0) {
            QFile::copy(path + ".qt.png", path);
        }
        return sheet;
    }

    TestFolder folder_;
    TilvexProgram program_{folder_};
};

TEST_F(Defaults, PngSheetSplitsToPngTilesAndCompilesBackByItsRecordedGrid) {
    const QImage source = Sheet(File("sheet.png"));
    const TilvexResult split = Run({"split", File("sheet.png"), File("tiles"), "--tile", "16", "--margin", "1"});
    ASSERT_EQ(split.status, 0) << split.err.toStdString();
    ASSERT_TRUE(QFile::exists(File("tiles/0.png")));
    EXPECT_FALSE(QFile::exists(File("tiles/0.bmp")));
    EXPECT_EQ(Read(File("tiles/0.png")), source.copy(1, 1, 16, 16));
    QSettings info(File("tiles/info.ini"), QSettings::IniFormat);
    const QStringList recorded = {info.value("MAIN/NumFiles").toString(),   info.value("MAIN/TileWidth").toString(),
                                  info.value("MAIN/TileHeight").toString(), info.value("MAIN/Margin").toString(),
                                  info.value("MAIN/Spacing").toString(),    info.value("MAIN/Format").toString(),
                                  info.value("MAIN/Columns").toString()};
    EXPECT_EQ(recorded, QStringList({"12", "16", "16", "1", "0", "png", "4"}));

    // No option: the grid recorded; the sheet named, its folders made.
    const TilvexResult named = Run({"compile", File("tiles"), File("out/deep/rebuilt.png")});
    ASSERT_EQ(named.status, 0) << named.err.toStdString();
    EXPECT_EQ(Read(File("out/deep/rebuilt.png")), source);
    // A folder DEST still gets Tiles.*; an option given beats the recorded one.
    const TilvexResult folder = Run({"compile", File("tiles"), File("out"), "--width", "2"});
    ASSERT_EQ(folder.status, 0) << folder.err.toStdString();
    EXPECT_EQ(Read(File("out/Tiles.png")).size(), QSize(2 * 16 + 2, 6 * 16 + 2));
    // A name whose format --format contradicts is refused before anything is written.
    const TilvexResult clash = Run({"compile", File("tiles"), File("clash.bmp"), "--format", "png"});
    EXPECT_EQ(clash.status, 2);
    EXPECT_FALSE(QFile::exists(File("clash.bmp")));
}

TEST_F(Defaults, PngTilesWithoutARecordCompileWithoutFormat) {
    Sheet(File("sheet.png"));
    ASSERT_EQ(Run({"split", File("sheet.png"), File("tiles"), "--tile", "16"}).status, 0);
    // As a hand-made folder holds them: NumFiles only.
    QFile::remove(File("tiles/info.ini"));
    QFile ini(File("tiles/info.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[MAIN]\nNumFiles=12\n");
    ini.close();
    const TilvexResult compile = Run({"compile", File("tiles"), File("out"), "--tile", "16"});
    ASSERT_EQ(compile.status, 0) << compile.err.toStdString();
    EXPECT_TRUE(QFile::exists(File("out/Tiles.png")));
}

TEST_F(Defaults, BitmapWithoutOptionsRecordsNoGridAndClearsAnEarlierOne) {
    QImage bitmap(64, 32, QImage::Format_RGB32);
    bitmap.fill(qRgb(10, 20, 30));
    ASSERT_TRUE(bitmap.save(File("big.bmp"), "BMP"));
    ASSERT_EQ(Run({"split", File("big.bmp"), File("tiles"), "--tile", "16"}).status, 0);
    ASSERT_EQ(Run({"split", File("big.bmp"), File("tiles")}).status, 0);
    EXPECT_TRUE(QFile::exists(File("tiles/0.bmp")));
    QSettings info(File("tiles/info.ini"), QSettings::IniFormat);
    EXPECT_EQ(info.value("MAIN/NumFiles").toString(), "2");
    EXPECT_TRUE(info.value("MAIN/TileWidth").toString().isEmpty());
}

TEST_F(Defaults, JsonMapsAndImpliedUnique) {
    Sheet(File("level.png"));
    struct Case {
        QStringList arguments;
        int status;
    };
    // --map alone and --flips alone mean distinct tiles; --skip-empty still asks for them.
    const Case cases[] = {
        {{"split", File("level.png"), File("t1"), "--tile", "16", "--map", File("maps/level.json")}, 0},
        {{"split", File("level.png"), File("t2"), "--tile", "16", "--flips"}, 0},
        {{"split", File("level.png"), File("t3"), "--tile", "16", "--skip-empty"}, 2},
    };
    for (const Case& c : cases) {
        const TilvexResult run = Run(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments.join(' ').toStdString() << run.err.toStdString();
        if (c.status == 0) {
            EXPECT_TRUE(run.out.contains("unique tiles stored")) << run.out.toStdString();
        }
    }
    QFile map(File("maps/level.json"));
    ASSERT_TRUE(map.open(QIODevice::ReadOnly));
    const QJsonDocument json = QJsonDocument::fromJson(map.readAll());
    EXPECT_EQ(json["type"].toString(), "map");
    const TilvexResult drawn = Run({"compile", "--map", File("maps/level.json"), File("drawn.png")});
    ASSERT_EQ(drawn.status, 0) << drawn.err.toStdString();
    // The whole tiles come back; the two pixels past them at the right and bottom were dropped.
    EXPECT_EQ(Read(File("drawn.png")).copy(0, 0, 64, 48), Read(File("level.png")).copy(0, 0, 64, 48));
    const TilvexResult info = Run({"info", File("maps/level.json"), File("maps/level.tsx")});
    ASSERT_EQ(info.status, 0) << info.err.toStdString();
    EXPECT_TRUE(info.out.contains("\ttiles\t")) << info.out.toStdString();
    EXPECT_TRUE(info.out.contains("\ttileset\t")) << info.out.toStdString();
}

TEST_F(Defaults, EveryCommandMakesEveryMissingFolder) {
    Sheet(File("sheet.png"));
    ASSERT_EQ(Run({"split", File("sheet.png"), File("a/b/tiles"), "--tile", "16", "--margin", "1", "--map", File("m/n/level.tmx")}).status, 0);
    const QStringList runs[] = {
        {"split", File("sheet.png"), File("c/d/tiles"), "--tile", "16"},
        {"compile", File("a/b/tiles"), File("e/f")},
        {"extrude", File("sheet.png"), File("g/h/x.png"), "--tile", "16", "--margin", "1"},
        {"optimize", File("m/n/level.tmx"), "--out", File("i/j")},
        {"compile", "--map", File("m/n/level.tmx"), File("k/l/level.png")},
    };
    for (const QStringList& arguments : runs) {
        const TilvexResult run = Run(arguments);
        EXPECT_EQ(run.status, 0) << arguments.join(' ').toStdString() << ": " << run.err.toStdString();
    }
    for (const char* made : {"c/d/tiles/0.png", "e/f/Tiles.png", "g/h/x.png", "i/j/level.tmx", "k/l/level.png"}) {
        EXPECT_TRUE(QFile::exists(File(made))) << made;
    }
}

TEST_F(Defaults, HelpOfEachCommandVersionAndTilesetInfo) {
    for (const char* command : {"split", "compile", "info", "extrude", "optimize"}) {
        const TilvexResult help = Run({"help", command});
        ASSERT_EQ(help.status, 0) << command;
        EXPECT_TRUE(help.out.startsWith(QStringLiteral("Usage: tilvex %1").arg(command))) << help.out.toStdString();
        EXPECT_EQ(help.out, Run({command, "--help"}).out) << command;
    }
    EXPECT_EQ(Run({"help", "frobnicate"}).status, 2);
    EXPECT_EQ(Run({"-v"}).out, Run({"--version"}).out);

    Sheet(File("sheet.png"));
    ASSERT_EQ(Run({"split", File("sheet.png"), File("tiles"), "--tile", "16", "--margin", "1"}).status, 0);
    ASSERT_EQ(Run({"compile", File("tiles"), File("out"), "--tileset", File("out/sheet.tsx")}).status, 0);
    const TilvexResult info = Run({"info", File("out/sheet.tsx")});
    ASSERT_EQ(info.status, 0) << info.err.toStdString();
    EXPECT_EQ(info.out.section('\t', 1), "tileset\tsheet\t16x16 tiles\t12 tiles\t4 columns\t" +
                                             QDir::current().relativeFilePath(File("out/Tiles.png")) + "\n");
}

}  // namespace
