// Commands called in-process: what a run writes through links, and what it refuses.
#include "commands/extrude.h"
#include "commands/optimize.h"
#include "runtime/paths.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {
// A sheet of distinct tiles and a tileset of it, tile x tile pixels, 2 by 2 tiles.
QString writeTileset(const TestFolder& folder, const QString& name, int tile) {
    QImage sheet(2 * tile, 2 * tile, QImage::Format_RGBA8888);
    for (int y = 0; y < sheet.height(); ++y) {
        for (int x = 0; x < sheet.width(); ++x) {
            sheet.setPixel(x, y, qRgba(x * 9 & 255, y * 5 & 255, (x / tile + 2 * (y / tile)) * 60, 255));
        }
    }
    EXPECT_TRUE(sheet.save(folder.File(name + ".png")));
    WriteBytes(folder.File(name + ".tsx"),
               QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tileset version=\"1.8\" name=\"%1\" tilewidth=\"%2\" "
                              "tileheight=\"%2\" tilecount=\"4\" columns=\"2\">\n <image source=\"%1.png\" width=\"%3\" height=\"%3\"/>\n"
                              "</tileset>\n")
                   .arg(name)
                   .arg(tile)
                   .arg(2 * tile)
                   .toUtf8());
    return folder.File(name + ".tsx");
}

QString writeMap(const TestFolder& folder, const QString& name, const QString& tileset, int tile) {
    WriteBytes(folder.File(name),
               QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<map version=\"1.8\" orientation=\"orthogonal\" "
                              "renderorder=\"right-down\" width=\"2\" height=\"1\" tilewidth=\"%1\" tileheight=\"%1\" infinite=\"0\" "
                              "nextlayerid=\"2\" nextobjectid=\"1\">\n <tileset firstgid=\"1\" source=\"%2\"/>\n"
                              " <layer id=\"1\" name=\"Ground\" width=\"2\" height=\"1\">\n  <data encoding=\"csv\">\n1,4\n</data>\n"
                              " </layer>\n</map>\n")
                   .arg(tile)
                   .arg(tileset)
                   .toUtf8());
    return folder.File(name);
}

TEST(Commands, ExtrudeThroughALinkedTilesetWritesItsTargetAndKeepsTheLink) {
    TestFolder folder;
    const QString tileset = writeTileset(folder, "terrain", 16);
    ASSERT_TRUE(QDir(folder.Path()).mkdir("real"));
    WriteBytes(folder.File("real/terrain-x.tsx"), "old");
    ASSERT_EQ(::symlink("real/terrain-x.tsx", ToFsPath(folder.File("link.tsx")).c_str()), 0);

    ExtrudeRequest request{tileset, folder.File("link.tsx"), {}, false};
    request.options.extrude = 2;
    const ExtrudeResult result = RunExtrude(request);
    ASSERT_TRUE(result.Ok()) << (result.failure ? result.failure->Description() : result.refusal->reason).toStdString();

    EXPECT_TRUE(QFileInfo(folder.File("link.tsx")).isSymLink());
    const QString written = QString::fromUtf8(ReadBytes(folder.File("real/terrain-x.tsx")));
    EXPECT_TRUE(written.contains("margin=\"2\"")) << written.toStdString();
    // The image is named relative to the tileset where it lies, and is the sheet written.
    EXPECT_TRUE(written.contains("source=\"../link.png\"")) << written.toStdString();
    EXPECT_EQ(QImage(folder.File("link.png")).size(), QSize(40, 40));
}

TEST(Commands, OptimizeRefusesTilesetsOfTwoTileSizesNamingTheMapAndTileset) {
    TestFolder folder;
    writeTileset(folder, "desert", 32);
    writeTileset(folder, "beach", 16);
    const QString desert = writeMap(folder, "desert.tmx", "desert.tsx", 32);
    const QString island = writeMap(folder, "island.tmx", "beach.tsx", 16);

    OptimizeRequest request{{desert, island}, folder.File("out"), {}, false};
    const OptimizeResult result = RunOptimize(request);
    ASSERT_TRUE(result.refusal.has_value()) << (result.failure ? result.failure->Description().toStdString() : "it ran");
    EXPECT_EQ(result.refusal->file, island);
    EXPECT_TRUE(result.refusal->reason.contains(folder.File("beach.tsx"))) << result.refusal->reason.toStdString();
    EXPECT_TRUE(result.refusal->reason.contains("desert")) << result.refusal->reason.toStdString();
    EXPECT_FALSE(QFileInfo::exists(folder.File("out")));
}
}  // namespace
