#include "support/testsupport.h"
#include "tilvexrun.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QStandardPaths>

namespace {

// Sheets are written with Qt's own PNG writer, so the tool is checked against another
// program's files.
class TileCommands : public ::testing::Test {
protected:
    // A sheet of 5 by 3 tiles of 16 by 24, margin 2 and spacing 1, every alpha value used;
    // margins and spacing fully transparent, as a compiled sheet has them.
    QImage RgbaSheet() const {
        QImage sheet(88, 78, QImage::Format_ARGB32);
        sheet.fill(0u);
        for (int row = 0; row < 3; ++row) {
            for (int column = 0; column < 5; ++column) {
                for (int y = 0; y < 24; ++y) {
                    for (int x = 0; x < 16; ++x) {
                        const int n = (row * 5 + column) * 384 + y * 16 + x;
                        sheet.setPixel(2 + column * 17 + x, 2 + row * 25 + y,
                                       qRgba(n % 251, n * 7 % 256, n * 13 % 253, n % 256));
                    }
                }
            }
        }
        return sheet;
    }

    TilvexResult Run(const QStringList& arguments) const { return program_.Run(arguments); }

    static QImage Read(const QString& path) {
        QImageReader reader(path);
        reader.setDecideFormatFromContent(true);
        return reader.read();
    }

    TestFolder folder_;
    TilvexProgram program_{folder_};
};

const QStringList Grid = {"--tile", "16x24", "--margin", "2", "--spacing", "1", "--format", "png"};

TEST_F(TileCommands, RgbaSheetRoundTripsPixelExact) {
    const QImage source = RgbaSheet();
    // The name says nothing: the content decides.
    ASSERT_TRUE(source.save(folder_.File("sheet.dat"), "PNG"));
    const TilvexResult split = Run(QStringList{"split", folder_.File("sheet.dat"), folder_.File("tiles"), "--start", "7"} + Grid);
    ASSERT_EQ(split.status, 0) << split.err.toStdString();
    EXPECT_EQ(split.out, "15 tiles written to " + folder_.File("tiles") + "/, next free number 22\n");
    EXPECT_EQ(Read(folder_.File("tiles/7.png")).size(), QSize(16, 24));

    const TilvexResult compile =
        Run(QStringList{"compile", folder_.File("tiles"), folder_.Path(), "--start", "7", "--width", "5"} + Grid);
    ASSERT_EQ(compile.status, 0) << compile.err.toStdString();
    const QImage sheet = Read(folder_.File("Tiles.png"));
    ASSERT_EQ(sheet.size(), source.size());
    EXPECT_EQ(sheet.convertToFormat(QImage::Format_ARGB32), source);
}

TEST_F(TileCommands, IndexedSheetKeepsItsPaletteAndTransparentIndex) {
    // The same grid; margins and spacing hold the transparent index 1.
    QImage source(88, 78, QImage::Format_Indexed8);
    source.setColorTable({qRgb(200, 10, 10), qRgba(0, 0, 0, 0), qRgba(10, 200, 10, 128), qRgb(10, 10, 200)});
    source.fill(1);
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 5; ++column) {
            for (int y = 0; y < 24; ++y) {
                for (int x = 0; x < 16; ++x) {
                    source.setPixel(2 + column * 17 + x, 2 + row * 25 + y, static_cast<uint>((x / 3 + y + row + column) % 4));
                }
            }
        }
    }
    ASSERT_TRUE(source.save(folder_.File("indexed.png"), "PNG"));
    ASSERT_EQ(Run(QStringList{"split", folder_.File("indexed.png"), folder_.File("tiles"), "-q"} + Grid).status, 0);
    EXPECT_EQ(Read(folder_.File("tiles/0.png")).format(), QImage::Format_Indexed8);
    const TilvexResult compile = Run(QStringList{"compile", folder_.File("tiles"), folder_.Path(), "--width", "5", "-q"} + Grid);
    ASSERT_EQ(compile.status, 0) << compile.err.toStdString();
    const QImage sheet = Read(folder_.File("Tiles.png"));
    ASSERT_EQ(sheet.format(), QImage::Format_Indexed8);
    EXPECT_EQ(sheet.colorTable(), source.colorTable());
    for (int y = 0; y < source.height(); ++y) {
        ASSERT_EQ(std::memcmp(sheet.constScanLine(y), source.constScanLine(y), 88), 0) << "row " << y;
    }
}

TEST_F(TileCommands, KeepEdgesPadsPartialTilesWithTransparency) {
    QImage source(100, 70, QImage::Format_ARGB32);
    source.fill(qRgba(1, 2, 3, 255));
    ASSERT_TRUE(source.save(folder_.File("big.png"), "PNG"));
    const TilvexResult dropped = Run({"split", folder_.File("big.png"), folder_.File("dropped"), "--format", "png"});
    ASSERT_EQ(dropped.status, 0) << dropped.err.toStdString();
    EXPECT_TRUE(dropped.out.contains("6 tiles written")) << dropped.out.toStdString();
    EXPECT_TRUE(dropped.out.contains("856 pixels at the right and bottom edges dropped")) << dropped.out.toStdString();

    const TilvexResult kept = Run({"split", folder_.File("big.png"), folder_.File("kept"), "--format", "png", "--keep-edges"});
    ASSERT_EQ(kept.status, 0) << kept.err.toStdString();
    EXPECT_EQ(kept.out, "12 tiles written to " + folder_.File("kept") + "/, next free number 12\n");
    // The corner tile holds 4 by 6 pixels of the picture; the rest is transparent.
    const QImage corner = Read(folder_.File("kept/11.png")).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(corner.size(), QSize(32, 32));
    EXPECT_EQ(corner.pixel(3, 5), qRgba(1, 2, 3, 255));
    EXPECT_EQ(qAlpha(corner.pixel(4, 5)), 0);
    EXPECT_EQ(qAlpha(corner.pixel(3, 6)), 0);

    // Compiled back four to a row the sheet is the picture's 100 by 70 and more, no pixel lost.
    ASSERT_EQ(Run({"compile", folder_.File("kept"), folder_.Path(), "--width", "4", "--format", "png", "-q"}).status, 0);
    const QImage sheet = Read(folder_.File("Tiles.png")).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(sheet.size(), QSize(128, 96));
    EXPECT_EQ(sheet.copy(0, 0, 100, 70), source);
}

TEST_F(TileCommands, BadValuesAreRefusedWithOneLine) {
    ASSERT_TRUE(RgbaSheet().save(folder_.File("sheet.png"), "PNG"));
    const QString sheet = folder_.File("sheet.png");
    const QString out = folder_.File("out");
    struct Case {
        QStringList arguments;
        const char* reason;
    };
    const Case cases[] = {
        {{"split", sheet, out, "--tile", "0"}, "--tile 0: not WxH or N"},
        {{"split", sheet, out, "--tile", "5000x1"}, "--tile 5000x1: not WxH or N"},
        {{"split", sheet, out, "--tile", "16x"}, "--tile 16x:"},
        {{"split", sheet, out, "--margin", "-1"}, "--margin -1: not a whole number"},
        {{"split", sheet, out, "--spacing", "1.5"}, "--spacing 1.5: not a whole number"},
        {{"split", sheet, out, "--format", "gif"}, "--format gif: not png or bmp"},
        {{"split", sheet, out, "--start", "abc"}, "--start abc: not a number"},
        {{"split", sheet, out, "--start", "3000000000"}, "--start 3000000000: not a number"},
        {{"split", sheet, out, "--tile", "80", "--margin", "2"},
         "the grid (tile 80x80, margin 2, spacing 0) is larger than the 88x78 sheet"},
        {{"split", sheet, out, "--tileset", "tiles.xml"}, "--tileset tiles.xml: not a file name ending in .tsx"},
        {{"split", sheet, out, "--exact"}, "split takes no --exact"},
        {{"compile", folder_.Path(), out, "--keep-edges"}, "compile takes no --keep-edges"},
        {{"compile", folder_.Path(), out, "--exact", "--width", "0"}, "--width 0: not a whole number of columns"},
        {{"compile", folder_.Path(), out, "--width", "many"}, "--width many: not a number or auto"},
        {{"split", sheet, out, "--extrude", "1"}, "split takes no --extrude"},
        {{"compile", folder_.Path(), out, "--extrude", "0"}, "--extrude 0: not a whole number from 1 to 4096"},
        {{"compile", folder_.Path(), out, "--spacing", "4000", "--extrude", "49"}, "a spacing of 4098, past 4096"},
        {{"extrude", sheet, out + ".png", "--tile", "8", "--start", "1"}, "extrude takes no --start"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.mid(3).join(' ').toStdString());
        const TilvexResult result = Run(c.arguments);
        EXPECT_EQ(result.status, 2);
        const QString reason = result.err.section('\n', 0, 0);
        EXPECT_TRUE(reason.startsWith("tilvex: ")) << result.err.toStdString();
        EXPECT_TRUE(reason.contains(QString::fromUtf8(c.reason))) << result.err.toStdString();
        // A bad value is one line; an option the command does not take comes with its help.
        if (!reason.contains("takes no")) {
            EXPECT_EQ(result.err.count('\n'), 1) << result.err.toStdString();
        }
        EXPECT_TRUE(result.out.isEmpty());
    }
    EXPECT_FALSE(QFileInfo::exists(out));
}

TEST_F(TileCommands, ACutShortPngFailsWhileItsTilesAreCut) {
    // Big enough that tiles are cut while the rest is still being decoded.
    QImage source(512, 512, QImage::Format_ARGB32);
    for (int y = 0; y < 512; ++y) {
        for (int x = 0; x < 512; ++x) {
            source.setPixel(x, y, qRgba(x % 256, y % 256, (x * y) % 256, (x + y) % 256));
        }
    }
    QByteArray png;
    QBuffer buffer(&png);
    ASSERT_TRUE(source.save(&buffer, "PNG"));
    WriteBytes(folder_.File("cut.png"), png.left(png.size() * 2 / 3));
    const TilvexResult result = Run({"split", folder_.File("cut.png"), folder_.File("tiles"), "--format", "png"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "tilvex: " + folder_.File("cut.png") + ": error 481: Invalid picture\n");
    // The tiles cut from the rows that were there stay out of sight with the rest: the
    // folder that was to hold them is not made.
    EXPECT_FALSE(QFileInfo::exists(folder_.File("tiles")));
}

TEST_F(TileCommands, CompileReportsTheTileThatIsMissingOrTheWrongSize) {
    ASSERT_TRUE(RgbaSheet().save(folder_.File("sheet.png"), "PNG"));
    ASSERT_EQ(Run(QStringList{"split", folder_.File("sheet.png"), folder_.File("tiles"), "-q"} + Grid).status, 0);
    ASSERT_TRUE(QImage(16, 16, QImage::Format_ARGB32).save(folder_.File("tiles/9.png"), "PNG"));
    ASSERT_TRUE(QFile::remove(folder_.File("tiles/4.png")));
    const TilvexResult result = Run(QStringList{"compile", folder_.File("tiles"), folder_.Path(), "--width", "5"} + Grid);
    EXPECT_EQ(result.status, 1);
    // The first bad tile in order is the one reported, whichever thread met it first.
    EXPECT_EQ(result.err, "tilvex: " + folder_.File("tiles") + "/4.*: error 53: File not found\n");
    ASSERT_TRUE(QImage(16, 24, QImage::Format_ARGB32).save(folder_.File("tiles/4.bmp"), "BMP"));
    const TilvexResult sized = Run(QStringList{"compile", folder_.File("tiles"), folder_.Path(), "--width", "5"} + Grid);
    EXPECT_EQ(sized.err, "tilvex: " + folder_.File("tiles") + "/9.png: error 481: is 16x16 pixels, not 16x24\n");
    EXPECT_FALSE(QFileInfo::exists(folder_.File("Tiles.png")));
}

}  // namespace
