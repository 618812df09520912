#include "support/testsupport.h"
#include "tilvexrun.h"

#include "tiled/xmltree.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QStandardPaths>

namespace {

QString tmxrasterizer() { return QStandardPaths::findExecutable("tmxrasterizer"); }

// Tiled's tmxrasterizer without smoothing, as every comparison runs it.
QImage rasterizedByTiled(const QString& map, const QString& png, const QStringList& options = {}) {
    QProcess process;
    process.start(tmxrasterizer(), QStringList{"--no-smoothing"} + options + QStringList{map, png});
    EXPECT_TRUE(process.waitForFinished(120000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    return QImage(png);
}

// The most two pictures differ by in a channel (premultiplied), and where first.
std::pair<int, QString> apart(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) {
        return {256, QStringLiteral("%1x%2 against %3x%4").arg(a.width()).arg(a.height()).arg(b.width()).arg(b.height())};
    }
    const QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied), y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    int most = 0;
    QString first;
    for (int row = 0; row < x.height(); ++row) {
        for (int column = 0; column < x.width(); ++column) {
            const QRgb p = x.pixel(column, row), q = y.pixel(column, row);
            const int d = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q)),
                                    std::abs(qAlpha(p) - qAlpha(q))});
            if (d > most && first.isEmpty()) {
                first = QStringLiteral("(%1,%2) %3 against %4").arg(column).arg(row).arg(p, 8, 16).arg(q, 8, 16);
            }
            most = std::max(most, d);
        }
    }
    return {most, first};
}

QImage noise(QSize size, int seed) {
    QImage image(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const unsigned v = static_cast<unsigned>(x + 1) * 73856093u ^ static_cast<unsigned>(y + 1) * 19349663u ^ static_cast<unsigned>(seed) * 83492791u;
            image.setPixel(x, y, qRgba(static_cast<int>(v & 255), static_cast<int>((v >> 8) & 255), static_cast<int>((v >> 16) & 255),
                                       (x + y) % 5 == 0 ? 128 : 255));
        }
    }
    return image;
}

QString layerOf(const char* gids) {
    return QStringLiteral("<layer id=\"1\" name=\"l\" class=\"ground\" width=\"4\" height=\"3\"><data encoding=\"csv\">%1</data></layer>").arg(gids);
}

// Each map of Tiled 1.9 to 1.12 drawn by tilvex against the map Tiled 1.8 draws the same way.
TEST(TiledFormat, TodaysAttributesDrawAsTheirEquivalentsDrawnByTmxrasterizer) {
    if (tmxrasterizer().isEmpty()) {
        GTEST_SKIP() << "tmxrasterizer (Debian package tiled) is not installed";
    }
    TestFolder folder;
    const TilvexProgram program(folder);
    const QImage sheet = noise(QSize(32, 24), 7);
    sheet.save(folder.File("sheet.png"));
    const QRect parts[] = {QRect(4, 2, 8, 8), QRect(20, 0, 8, 16), QRect(1, 13, 12, 11)};
    for (int k = 0; k < 3; ++k) {
        sheet.copy(parts[k]).save(folder.File(QStringLiteral("cut%1.png").arg(k)));
    }
    QByteArray embedded;
    QBuffer buffer(&embedded);
    sheet.save(&buffer, "PNG");
    const QString head = "<map version=\"1.10\" orientation=\"orthogonal\" width=\"4\" height=\"3\" tilewidth=\"8\" tileheight=\"8\"%1>";
    const char* gids = "1,2,3,0,2147483649,1073741826,536870915,3,0,3221225474,2,1";
    QString subRect = head.arg(" class=\"level\"") + "<tileset firstgid=\"1\" name=\"c\" tilewidth=\"12\" tileheight=\"16\" tilecount=\"3\" columns=\"0\">";
    QString cut = head.arg("") + "<tileset firstgid=\"1\" name=\"c\" tilewidth=\"12\" tileheight=\"16\" tilecount=\"3\" columns=\"0\">";
    for (int k = 0; k < 3; ++k) {
        const QRect& r = parts[k];
        subRect += QStringLiteral("<tile id=\"%1\" x=\"%2\" y=\"%3\" width=\"%4\" height=\"%5\"><image source=\"sheet.png\" width=\"32\" height=\"24\"/></tile>")
                       .arg(k).arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
        cut += QStringLiteral("<tile id=\"%1\"><image source=\"cut%1.png\" width=\"%2\" height=\"%3\"/></tile>").arg(k).arg(r.width()).arg(r.height());
    }
    const QString objects = "<objectgroup id=\"2\" name=\"o\"><object id=\"1\" class=\"thing\" gid=\"2\" x=\"3\" y=\"20\" width=\"16\" height=\"8\"/></objectgroup>";
    subRect += "</tileset>" + layerOf(gids) + objects + "</map>";
    cut += "</tileset>" + layerOf(gids) + objects + "</map>";
    const QString sheetTileset = "<tileset firstgid=\"1\" name=\"s\" tilewidth=\"8\" tileheight=\"8\" tilecount=\"12\" columns=\"4\">%1</tileset>";
    const QString imageLayer = "<imagelayer id=\"3\" name=\"i\" offsetx=\"5\" offsety=\"3\" opacity=\"0.5\">%1</imagelayer>";
    const QString embeddedImage =
        QStringLiteral("<image format=\"png\" width=\"32\" height=\"24\"><data encoding=\"base64\">%1</data></image>").arg(QString::fromLatin1(embedded.toBase64()));
    const QString besideImage = "<image source=\"sheet.png\" width=\"32\" height=\"24\"/>";
    const struct {
        const char* name;
        QString ours;
        QString theirs;
    } cases[] = {
        {"sub-rectangles against cut files", subRect, cut},
        {"embedded sheet and image layer against files beside",
         head.arg("") + sheetTileset.arg(embeddedImage) + layerOf(gids) + imageLayer.arg(embeddedImage) + "</map>",
         head.arg("") + sheetTileset.arg(besideImage) + layerOf(gids) + imageLayer.arg(besideImage) + "</map>"},
        {"normal blend mode and full object opacity",
         QString(cut).replace("<layer id=\"1\"", "<layer id=\"1\" mode=\"normal\"").replace("<object id=\"1\"", "<object id=\"1\" opacity=\"1\""), cut},
    };
    for (const auto& c : cases) {
        WriteBytes(folder.File("ours.tmx"), c.ours.toUtf8());
        WriteBytes(folder.File("theirs.tmx"), c.theirs.toUtf8());
        const TilvexResult run = program.Run({"compile", "--map", folder.File("ours.tmx"), folder.File("ours.png")});
        ASSERT_EQ(run.status, 0) << c.name << run.err.toStdString();
        const auto [most, where] = apart(QImage(folder.File("ours.png")), rasterizedByTiled(folder.File("theirs.tmx"), folder.File("theirs.png")));
        EXPECT_LE(most, 2) << c.name << ": first at " << where.toStdString();
    }
}

// Sticker-knight's hero, gems and blocks are template instances. Tiled 1.8's tmxrasterizer
// draws them as empty rectangles, so Tiled itself detaches them (--detach-templates) and
// tmxrasterizer draws that map.
TEST(TiledFormat, StickerKnightsTemplatesDrawAsTiledDetachesThem) {
    const QString examples = "/usr/share/doc/tiled/examples/sticker-knight/map";
    const QString tiled = QStandardPaths::findExecutable("tiled");
    if (tmxrasterizer().isEmpty() || tiled.isEmpty() || !QFileInfo::exists(examples)) {
        GTEST_SKIP() << "tiled, tmxrasterizer and the samples of the Debian package tiled are not installed";
    }
    TestFolder folder;
    const TilvexProgram program(folder);
    QProcess copy;
    copy.start("sh", {"-c", QStringLiteral("cp -r '%1' '%2/k' && gzip -df '%2'/k/*.gz").arg(examples, folder.Path())});
    ASSERT_TRUE(copy.waitForFinished(60000));
    const QString map = folder.File("k/sandbox.tmx"), detached = folder.File("k/detached.tmx");
    XmlNode root = ParseXml(map, ReadBytes(map));
    root.Remove("backgroundcolor");  // tmxrasterizer of Tiled 1.8 leaves it out
    int instances = 0;
    for (XmlNode& layer : root.children) {
        // Shapes and text are drawn by another part of the tool; template instances stay.
        layer.RemoveChildren([](const XmlNode& o) { return o.name == "object" && !o.Has("gid") && !o.Has("template"); });
        for (const XmlNode& o : layer.children) {
            instances += o.Has("template") ? 1 : 0;
        }
    }
    ASSERT_GE(instances, 9);
    WriteBytes(map, XmlBytes(root));
    QProcess detach;
    detach.start(tiled, {"--export-map", "--detach-templates", map, detached});
    ASSERT_TRUE(detach.waitForFinished(120000));
    ASSERT_EQ(detach.exitCode(), 0) << detach.readAllStandardError().toStdString();
    ASSERT_FALSE(ReadBytes(detached).contains("template=")) << "Tiled left the templates in";
    for (const QString& drawn : {map, detached}) {
        const TilvexResult run = program.Run({"compile", "--map", drawn, drawn + ".png"});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains(" 0 shape or text objects drawn")) << run.out.toStdString();
    }
    EXPECT_EQ(QImage(map + ".png"), QImage(detached + ".png")) << "instances and detached objects differ";
    const QImage ours(map + ".png"), theirs = rasterizedByTiled(detached, folder.File("theirs.png"));
    ASSERT_EQ(ours.size(), theirs.size());
    // Edge pixels of tile objects placed at fractions are sampled differently, as without templates.
    int beyond2 = 0;
    for (int y = 0; y < ours.height(); ++y) {
        for (int x = 0; x < ours.width(); ++x) {
            const QRgb p = ours.pixel(x, y), q = theirs.pixel(x, y);
            beyond2 += std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q)),
                                 std::abs(qAlpha(p) - qAlpha(q))}) > 2;
        }
    }
    EXPECT_LE(beyond2, 400);
}

// Two animations of 600 and 400 ms on a sheet of four tiles, one placed flipped too.
void writeAnimatedMap(const TestFolder& folder) {
    QImage sheet(32, 8, QImage::Format_ARGB32);
    const QRgb colours[] = {qRgb(200, 0, 0), qRgb(0, 200, 0), qRgb(0, 0, 200), qRgba(200, 200, 0, 128)};
    for (int x = 0; x < 32; ++x) {
        for (int y = 0; y < 8; ++y) {
            sheet.setPixel(x, y, y == 0 && x % 8 < 3 ? qRgb(255, 255, 255) : colours[x / 8]);
        }
    }
    sheet.save(folder.File("anim.png"));
    WriteBytes(folder.File("anim.tmx"),
               "<map orientation=\"orthogonal\" width=\"3\" height=\"1\" tilewidth=\"8\" tileheight=\"8\">"
               "<tileset firstgid=\"1\" name=\"a\" tilewidth=\"8\" tileheight=\"8\" tilecount=\"4\" columns=\"4\">"
               "<image source=\"anim.png\" width=\"32\" height=\"8\"/>"
               "<tile id=\"0\"><animation><frame tileid=\"0\" duration=\"300\"/><frame tileid=\"1\" duration=\"300\"/></animation></tile>"
               "<tile id=\"2\"><animation><frame tileid=\"2\" duration=\"250\"/><frame tileid=\"3\" duration=\"150\"/></animation></tile>"
               "</tileset><layer name=\"l\" width=\"3\" height=\"1\"><data encoding=\"csv\">1,3,2147483649</data></layer>"
               "<objectgroup name=\"o\"><object id=\"1\" gid=\"3\" x=\"12\" y=\"8\" width=\"8\" height=\"4\"/></objectgroup></map>");
}

TEST(TiledFormat, StillPicturesAtATimeAreTmxrasterizersAdvancedAnimations) {
    if (tmxrasterizer().isEmpty()) {
        GTEST_SKIP() << "tmxrasterizer (Debian package tiled) is not installed";
    }
    TestFolder folder;
    const TilvexProgram program(folder);
    writeAnimatedMap(folder);
    for (const int ms : {1, 250, 251, 300, 301, 1200, 1201, 4321}) {
        const QString time = QString::number(ms);
        const TilvexResult run = program.Run({"compile", "--map", folder.File("anim.tmx"), folder.File("ours.png"), "--advance-animations", time});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        const auto [most, where] = apart(QImage(folder.File("ours.png")),
                                         rasterizedByTiled(folder.File("anim.tmx"), folder.File("theirs.png"), {"--advance-animations", time}));
        EXPECT_EQ(most, 0) << ms << " ms: first at " << where.toStdString();
    }
}

TEST(TiledFormat, AnimateWritesEveryChangeOfTheWholeLoopWithExactDurations) {
    TestFolder folder;
    const TilvexProgram program(folder);
    writeAnimatedMap(folder);
    const TilvexResult run = program.Run({"compile", "--map", folder.File("anim.tmx"), folder.File("loop.png"), "--animate"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("9 frames over a loop of 1200 ms")) << run.out.toStdString();
    QDir(folder.Path()).mkdir("frames");
    QString why;
    const auto frames = PillowApngFrames(folder.File("loop.png"), folder.File("frames"), why);
    if (!frames) {
        GTEST_SKIP() << why.toStdString();
    }
    const std::vector<int> starts = {0, 250, 300, 400, 600, 650, 800, 900, 1050, 1200};
    ASSERT_EQ(frames->size(), starts.size() - 1);
    for (std::size_t k = 0; k + 1 < starts.size(); ++k) {
        EXPECT_DOUBLE_EQ((*frames)[k].duration, starts[k + 1] - starts[k]) << k;
        // Each frame is the still picture of the time just after it starts, and of its end.
        for (const int at : {starts[k] + 1, starts[k + 1]}) {
            const TilvexResult still = program.Run({"compile", "--map", folder.File("anim.tmx"), folder.File("still.png"),
                                                    "--advance-animations", QString::number(at)});
            ASSERT_EQ(still.status, 0) << still.err.toStdString();
            const auto [most, where] = apart((*frames)[k].image, QImage(folder.File("still.png")));
            EXPECT_EQ(most, 0) << "frame " << k << " against " << at << " ms: " << where.toStdString();
        }
    }
}

TEST(TiledFormat, AnimationsThatCannotBeWrittenAreRefusedNamingTheFile) {
    TestFolder folder;
    const TilvexProgram program(folder);
    writeAnimatedMap(folder);
    QByteArray slow = ReadBytes(folder.File("anim.tmx"));
    slow.replace("duration=\"150\"", "duration=\"10\"").replace("duration=\"250\"", "duration=\"99991\"");
    WriteBytes(folder.File("slow.tmx"), slow);
    QByteArray still = ReadBytes(folder.File("anim.tmx"));
    still.replace("<animation>", "<properties/><!--").replace("</animation>", "-->");
    WriteBytes(folder.File("still.tmx"), still);
    const struct {
        const char* map;
        const char* out;
        const char* named;
        const char* reason;
    } cases[] = {
        {"anim.tmx", "a.gif", "a.gif", "hundredths"},
        {"anim.tmx", "a.bmp", "a.bmp", ".png"},
        {"slow.tmx", "a.png", "slow.tmx", "600000 ms"},
        {"still.tmx", "a.png", "still.tmx", "animated"},
    };
    for (const auto& c : cases) {
        const TilvexResult run = program.Run({"compile", "--map", folder.File(c.map), folder.File(c.out), "--animate"});
        EXPECT_NE(run.status, 0) << c.map << " " << c.out;
        EXPECT_TRUE(run.err.contains(c.named) && run.err.contains(c.reason)) << run.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(folder.File(c.out))) << c.out;
    }
}

}  // namespace
