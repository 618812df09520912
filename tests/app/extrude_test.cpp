#include "support/testsupport.h"
#include "tilvexrun.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>

namespace {

const QString Examples = QStringLiteral("/usr/share/doc/tiled/examples/");

struct Run {
    int status = -1;
    QString err;
};

Run run(const QStringList& words) {
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
        const Run other = run(extruder + QStringList{"--tileWidth", QString::number(c.tile.width()), "--tileHeight",
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

// The pictures of two maps drawn by tilvex and, where installed, by Tiled's tmxrasterizer.
void expectSameDrawing(const TilvexProgram& tilvex, const TestFolder& folder, const QString& before, const QString& after) {
    QImage drawn[2];
    const QString maps[2] = {before, after};
    for (int i = 0; i < 2; ++i) {
        const QString png = folder.File(QStringLiteral("drawn%1.png").arg(i));
        const TilvexResult result = tilvex.Run({"compile", "--map", maps[i], png, "-q"});
        ASSERT_EQ(result.status, 0) << result.err.toStdString();
        drawn[i] = rgba(png);
    }
    ASSERT_FALSE(drawn[0].isNull());
    EXPECT_EQ(mismatch(drawn[0], drawn[1], false), QString());
    const QString rasterizer = QStandardPaths::findExecutable("tmxrasterizer");
    if (rasterizer.isEmpty()) {
        GTEST_SKIP() << "tmxrasterizer (Debian package tiled) is not installed";
    }
    for (int i = 0; i < 2; ++i) {
        const QString png = folder.File(QStringLiteral("rendered%1.png").arg(i));
        const Run rendered = run({rasterizer, "--no-smoothing", maps[i], png});
        ASSERT_EQ(rendered.status, 0) << rendered.err.toStdString();
        drawn[i] = rgba(png);
    }
    ASSERT_FALSE(drawn[0].isNull());
    EXPECT_EQ(mismatch(drawn[0], drawn[1], false), QString());
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
    TilvexResult result = tilvex.Run(QStringList{"split", folder.File("source.png"), folder.File("tiles")} + grid);
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
    expectSameDrawing(tilvex, folder, folder.File("maps/plain.tmx"), folder.File("maps/extruded.tmx"));
}

}  // namespace
