#include "support/testsupport.h"
#include "tilvexrun.h"

#include "imaging/picturefile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QStandardPaths>

#include <random>

namespace {

constexpr int Side = 16;

// Distinct tile n of Side by Side: no two tiles, and no tile and a mirror or turn of another,
// are alike; some pixels half transparent.
QImage levelTile(int n) {
    QImage tile(Side, Side, QImage::Format_RGBA8888);
    for (int y = 0; y < Side; ++y) {
        for (int x = 0; x < Side; ++x) {
            tile.setPixelColor(x, y, QColor((n * 37 + x * 11) & 255, (n * 53 + y * 13) & 255, (x * y * 3 + n * 5) & 255,
                                            (x + 2 * y + n) % 7 == 0 ? 128 : 255));
        }
    }
    return tile;
}

// The tile as seen in one of the eight ways a map can place it: 0 as it is, 1 mirrored
// left-right, 2 upside down, 3 both, 4 to 7 the same after swapping x and y.
QImage turned(const QImage& tile, int way) {
    QImage out = tile;
    if (way >= 4) {
        for (int y = 0; y < Side; ++y) {
            for (int x = 0; x < Side; ++x) {
                out.setPixelColor(x, y, tile.pixelColor(y, x));
            }
        }
    }
    return out.mirrored((way & 1) != 0, (way & 2) != 0);
}

struct Level {
    QImage picture;
    int empty = 0;
    int turnedCells = 0;
};

// A level of columns by rows cells drawn from tiles first..last (each at least once, upright,
// before any turned copy), turned copies and empty cells.
Level makeLevel(int columns, int rows, int first, int last, unsigned seed) {
    Level level;
    level.picture = QImage(columns * Side, rows * Side, QImage::Format_RGBA8888);
    level.picture.fill(Qt::transparent);
    std::mt19937 random(seed);
    for (int k = 0; k < columns * rows; ++k) {
        const int count = last - first + 1;
        const int pick = k < count ? k : static_cast<int>(random() % static_cast<unsigned>(count + count / 4));
        if (pick >= count) {
            ++level.empty;
            continue;
        }
        const int way = k < count ? 0 : static_cast<int>(random() % 8);
        level.turnedCells += way != 0;
        const QImage tile = turned(levelTile(first + pick), way);
        for (int y = 0; y < Side; ++y) {
            for (int x = 0; x < Side; ++x) {
                level.picture.setPixelColor(k % columns * Side + x, k / columns * Side + y, tile.pixelColor(x, y));
            }
        }
    }
    return level;
}

// Tiled draws onto a premultiplied canvas; compare in that form.
QImage premultiplied(const QImage& image) { return image.convertToFormat(QImage::Format_ARGB32_Premultiplied); }

class LevelMaps : public ::testing::Test {
protected:
    TilvexResult split(const QString& picture, const QString& tiles, const QStringList& more) {
        return program.Run(QStringList{"split", folder.File(picture), folder.File(tiles), "--tile", QString::number(Side),
                                       "--format", "png", "--unique"} + more);
    }
    TilvexResult compile(const QString& map, const QString& picture) {
        return program.Run({"compile", "--map", folder.File(map), folder.File(picture)});
    }
    // The map rendered by Tiled's own renderer, or a null image when it is not installed.
    QImage render(const QString& map) {
        const QString rasterizer = QStandardPaths::findExecutable("tmxrasterizer");
        if (rasterizer.isEmpty()) {
            return QImage();
        }
        QProcess process;
        process.start(rasterizer, {"--no-smoothing", folder.File(map), folder.File(map + ".png")});
        EXPECT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        return QImage(folder.File(map + ".png"));
    }

    TestFolder folder;
    TilvexProgram program{folder};
};

TEST_F(LevelMaps, LevelRoundTripsThroughEachMapKind) {
    const Level level = makeLevel(80, 45, 0, 39, 7);  // 1280x720
    ASSERT_TRUE(level.picture.save(folder.File("level.png")));
    ASSERT_TRUE(QDir(folder.Path()).mkpath("maps"));
    ASSERT_GT(level.empty, 0);
    ASSERT_GT(level.turnedCells, 0);
    struct Case {
        const char* map;
        QStringList options;
    };
    const Case cases[] = {{"maps/level.tmx", {"--flips", "--skip-empty"}},
                          {"maps/level-json.tmj", {"--flips", "--skip-empty"}},
                          {"level.csv", {"--skip-empty"}}};
    for (const Case& c : cases) {
        const QString tiles = QStringLiteral("tiles-%1").arg(QFileInfo(c.map).suffix());
        const TilvexResult run = split("level.png", tiles, c.options + QStringList{"--map", folder.File(c.map)});
        ASSERT_EQ(run.status, 0) << c.map << run.err.toStdString();
        const bool flips = c.options.contains("--flips");
        // Without flips, every turned copy that is no mirror image of itself is a tile of its own.
        const QRegularExpression summary(QStringLiteral("^3600 tiles seen, (\\d+) unique tiles stored \\(\\1 new\\) in .*, "
                                                        "(\\d+) flips found, %1 empty cells, next free number \\1, [0-9.]+ s\n$")
                                             .arg(level.empty));
        const auto match = summary.match(run.out);
        ASSERT_TRUE(match.hasMatch()) << run.out.toStdString();
        EXPECT_EQ(match.captured(1).toInt() == 40, flips) << c.map;
        EXPECT_EQ(match.captured(2).toInt(), flips ? level.turnedCells : 0) << c.map;
        EXPECT_EQ(QDir(folder.File(tiles)).entryList({"*.png"}).size(), match.captured(1).toInt());

        ASSERT_EQ(compile(c.map, tiles + ".png").status, 0) << c.map;
        EXPECT_EQ(LoadPicture(folder.File(tiles + ".png")), level.picture) << c.map;
        if (!flips) {
            continue;
        }
        const QImage rendered = render(c.map);
        if (rendered.isNull()) {
            std::cout << "[ SKIPPED  ] tmxrasterizer (Debian package tiled) is not installed\n";
            continue;
        }
        EXPECT_EQ(premultiplied(rendered), premultiplied(level.picture)) << c.map;
    }
}

TEST_F(LevelMaps, TwoLevelsShareOneTileset) {
    ASSERT_TRUE(QDir(folder.Path()).mkpath("maps"));
    const Level levels[2] = {makeLevel(20, 12, 0, 29, 1), makeLevel(24, 10, 20, 39, 2)};
    const char* const names[2] = {"a", "b"};
    const char* const stored[2] = {"30 unique tiles stored (30 new)", "40 unique tiles stored (10 new)"};
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(levels[i].picture.save(folder.File(QStringLiteral("%1.png").arg(names[i]))));
        const TilvexResult run = split(QStringLiteral("%1.png").arg(names[i]), QStringLiteral("tiles-%1").arg(names[i]),
                                       {"--flips", "--skip-empty", "--tileset", folder.File("maps/shared.tsx"), "--map",
                                        folder.File(QStringLiteral("maps/%1.tmx").arg(names[i]))});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains(stored[i])) << run.out.toStdString();
    }
    EXPECT_EQ(QDir(folder.File("tiles-b")).entryList({"*.png"}), (QStringList{"30.png", "31.png", "32.png", "33.png", "34.png",
                                                                              "35.png", "36.png", "37.png", "38.png", "39.png"}));
    // The first map still shows its level over the grown tileset.
    for (int i = 0; i < 2; ++i) {
        const QString map = QStringLiteral("maps/%1.tmx").arg(names[i]);
        ASSERT_EQ(compile(map, QStringLiteral("%1-back.png").arg(names[i])).status, 0);
        EXPECT_EQ(LoadPicture(folder.File(QStringLiteral("%1-back.png").arg(names[i]))), levels[i].picture) << names[i];
        const QImage rendered = render(map);
        if (rendered.isNull()) {
            GTEST_SKIP() << "tmxrasterizer (Debian package tiled) is not installed";
        }
        EXPECT_EQ(premultiplied(rendered), premultiplied(levels[i].picture)) << names[i];
    }
}

TEST_F(LevelMaps, OneColourCellsOfABitmapAndDroppedEdgesComeBack) {
    // Cells of one colour are empty; the edges beyond whole tiles are dropped.
    const Level level = makeLevel(12, 8, 0, 9, 3);
    QImage picture(12 * Side + 5, 8 * Side + 3, QImage::Format_RGB32);
    picture.fill(QColor(0xff, 0x00, 0xff));
    for (int y = 0; y < level.picture.height(); ++y) {
        for (int x = 0; x < level.picture.width(); ++x) {
            const QColor colour = level.picture.pixelColor(x, y);
            if (colour.alpha() == 255) {
                picture.setPixelColor(x, y, colour);
            }
        }
    }
    ASSERT_TRUE(picture.save(folder.File("level.bmp")));
    TilvexResult run = program.Run({"split", folder.File("level.bmp"), folder.File("tiles"), "--tile", QString::number(Side),
                                    "--unique", "--skip-empty", "--empty-colour", "#FF00ff", "--map", folder.File("level.tmj")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral(", %1 empty cells,").arg(level.empty))) << run.out.toStdString();
    ASSERT_EQ(compile("level.tmj", "back.bmp").status, 0);
    EXPECT_EQ(QImage(folder.File("back.bmp")).convertToFormat(QImage::Format_RGB32), picture);
}

TEST_F(LevelMaps, KeptEdgesComeBackAtThePicturesSize) {
    const QImage picture = makeLevel(10, 6, 0, 9, 5).picture.copy(0, 0, 10 * Side - 5, 6 * Side - 9);
    ASSERT_TRUE(picture.save(folder.File("level.png")));
    ASSERT_EQ(split("level.png", "tiles", {"--flips", "--keep-edges", "--map", folder.File("level.tmx")}).status, 0);
    ASSERT_EQ(compile("level.tmx", "back.png").status, 0);
    EXPECT_EQ(LoadPicture(folder.File("back.png")), picture);
}

TEST_F(LevelMaps, MistakesAreRefusedWithOneLine) {
    ASSERT_TRUE(makeLevel(4, 4, 0, 5, 4).picture.save(folder.File("level.png")));
    WriteBytes(folder.File("small.tsx"), "<tileset name=\"small\" tilewidth=\"8\" tileheight=\"8\" tilecount=\"0\" columns=\"0\"/>");
    WriteBytes(folder.File("sheet.tsx"), "<tileset name=\"sheet\" tilewidth=\"16\" tileheight=\"16\" tilecount=\"1\" "
                                         "columns=\"1\"><image source=\"level.png\" width=\"64\" height=\"64\"/></tileset>");
    const QString picture = folder.File("level.png");
    const QString map = folder.File("level.tmx");
    ASSERT_EQ(split("level.png", "tiles", {"--map", map}).status, 0);
    const QStringList cases[] = {
        {"split", picture, folder.File("t"), "--skip-empty"},
        {"split", picture, folder.File("t"), "--unique", "--map", folder.File("level.txt")},
        {"split", picture, folder.File("t"), "--unique", "--flips", "--map", folder.File("level.csv")},
        {"split", picture, folder.File("t"), "--unique", "--skip-empty", "--empty-colour", "ff00f"},
        {"split", picture, folder.File("t"), "--unique", "--empty-colour", "ff00ff"},
        {"split", picture, folder.File("t"), "--unique", "--tile", "16", "--tileset", folder.File("small.tsx")},
        {"split", picture, folder.File("t"), "--unique", "--tile", "16", "--tileset", folder.File("sheet.tsx")},
        {"compile", folder.File("t"), folder.File("out"), "--unique"},
        {"compile", "--map", map, folder.File("out.png"), "--tile", "16"},
        {"compile", "--map", map, folder.File("t"), folder.File("out.png")},
        {"compile", "--map", map, folder.File("out.png"), "--format", "bmp"},
    };
    for (const QStringList& arguments : cases) {
        const TilvexResult run = program.Run(arguments);
        EXPECT_EQ(run.status, 2) << arguments.join(' ').toStdString() << run.err.toStdString();
        EXPECT_TRUE(run.err.startsWith("tilvex: ")) << run.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(folder.File("t"))) << arguments.join(' ').toStdString();
    }
}
}  // namespace
