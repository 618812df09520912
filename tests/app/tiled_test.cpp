#include "support/testsupport.h"
#include "tilvexrun.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QStandardPaths>

namespace {

// A map of 5 by 3 tiles of 16 by 24 that shows tile ids 0 to 14 in order.
void writeMap(const QString& path, const QString& tileset) {
    QString gids;
    for (int gid = 1; gid <= 15; ++gid) {
        gids += QString::number(gid) + (gid < 15 ? "," : "");
    }
    WriteBytes(path, QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                    "<map version=\"1.8\" orientation=\"orthogonal\" renderorder=\"right-down\" width=\"5\" "
                                    "height=\"3\" tilewidth=\"16\" tileheight=\"24\" infinite=\"0\" nextlayerid=\"2\" nextobjectid=\"1\">\n"
                                    " <tileset firstgid=\"1\" source=\"%1\"/>\n"
                                    " <layer id=\"1\" name=\"ground\" width=\"5\" height=\"3\">\n"
                                    "  <data encoding=\"csv\">%2</data>\n"
                                    " </layer>\n"
                                    "</map>\n")
                         .arg(tileset, gids)
                         .toUtf8());
}

// Tiled draws onto a premultiplied canvas, so its PNGs hold what premultiplying leaves of a
// half-transparent colour; compare in that form.
QImage premultiplied(const QImage& image) { return image.convertToFormat(QImage::Format_ARGB32_Premultiplied); }

TEST(TiledTilesets, BothTilesetsRenderTheSourceInTmxrasterizer) {
    const QString rasterizer = QStandardPaths::findExecutable("tmxrasterizer");
    if (rasterizer.isEmpty()) {
        GTEST_SKIP() << "tmxrasterizer (Debian package tiled) is not installed";
    }
    TestFolder folder;
    const TilvexProgram program(folder);
    QImage source(88, 78, QImage::Format_ARGB32);
    source.fill(0u);
    QImage expected(80, 72, QImage::Format_ARGB32);
    for (int y = 0; y < 72; ++y) {
        for (int x = 0; x < 80; ++x) {
            const QRgb colour = qRgba(x * 3, y * 3, (x * y) % 256, (x + 3 * y) % 256);
            expected.setPixel(x, y, colour);
            source.setPixel(2 + x / 16 * 17 + x % 16, 2 + y / 24 * 25 + y % 24, colour);
        }
    }
    ASSERT_TRUE(source.save(folder.File("source.png"), "PNG"));
    ASSERT_TRUE(QDir(folder.Path()).mkpath("maps"));
    ASSERT_TRUE(QDir(folder.Path()).mkpath("sheet"));
    const QStringList grid = {"--tile", "16x24", "--margin", "2", "--spacing", "1", "--format", "png", "-q"};
    // Tile numbers from 40: the ids in both tilesets still count from 0.
    TilvexResult run = program.Run(QStringList{"split", folder.File("source.png"), folder.File("tiles"), "--start", "40",
                                               "--tileset", folder.File("maps/tiles.tsx")} + grid);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    run = program.Run(QStringList{"compile", folder.File("tiles"), folder.File("sheet"), "--start", "40", "--width", "5",
                                  "--tileset", folder.File("maps/sheet.tsx")} + grid);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();

    QImage rendered[2];
    const char* const tilesets[2] = {"sheet.tsx", "tiles.tsx"};
    for (int i = 0; i < 2; ++i) {
        const QString map = folder.File(QStringLiteral("maps/%1.tmx").arg(i));
        const QString png = folder.File(QStringLiteral("render%1.png").arg(i));
        writeMap(map, tilesets[i]);
        QProcess process;
        process.start(rasterizer, {"--no-smoothing", map, png});
        ASSERT_TRUE(process.waitForFinished(60000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        rendered[i] = QImage(png);
        ASSERT_EQ(rendered[i].size(), expected.size()) << tilesets[i];
    }
    EXPECT_EQ(rendered[0], rendered[1]);
    EXPECT_EQ(premultiplied(rendered[0]), premultiplied(expected));
    // Opaque pixels come through unchanged.
    ASSERT_EQ(qAlpha(expected.pixel(78, 59)), 255);
    EXPECT_EQ(rendered[0].pixel(78, 59), expected.pixel(78, 59));
}

}  // namespace
