#include "support/testsupport.h"

#include "maps/maprenderer.h"
#include "maps/tileanimation.h"
#include "runtime/runtimeerror.h"
#include "tiled/tiledfiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>

#include <cmath>
#include <functional>

namespace {

QImage noise(QSize size, int seed) {
    QImage image(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const unsigned v = static_cast<unsigned>(x + 1) * 73856093u ^ static_cast<unsigned>(y + 1) * 19349663u ^ static_cast<unsigned>(seed) * 83492791u;
            image.setPixel(x, y, qRgb(static_cast<int>(v & 255), static_cast<int>((v >> 8) & 255), static_cast<int>((v >> 16) & 255)));
        }
    }
    return image;
}

QImage drawn(const QString& map, MapRenderer::Options options = {}) {
    const TiledMap model = LoadMap(map);
    MapRenderer renderer(model, options);
    return renderer.Draw().convertToFormat(QImage::Format_ARGB32);
}

QString pixelText(QRgb p) { return QString::number(p, 16); }

// A one-cell map of a 32x32 grid whose collection tile is a 16x8 picture.
QByteArray renderSizeMap(const QString& attributes, const QString& offset) {
    return QStringLiteral("<map orientation=\"orthogonal\" width=\"1\" height=\"1\" tilewidth=\"32\" tileheight=\"32\">"
                          "<tileset firstgid=\"1\" name=\"t\" tilewidth=\"16\" tileheight=\"8\" tilecount=\"1\" columns=\"0\" %1>%2"
                          "<tile id=\"0\"><image source=\"tile.png\" width=\"16\" height=\"8\"/></tile></tileset>"
                          "<layer name=\"l\" width=\"1\" height=\"1\"><data encoding=\"csv\">1</data></layer></map>")
        .arg(attributes, offset)
        .toUtf8();
}

TEST(TiledFormat, RenderSizeAndFillModePlaceTheTileAsTiledDocumentsThem) {
    TestFolder folder;
    const QImage tile = noise(QSize(16, 8), 4);
    tile.save(folder.File("tile.png"));
    // Where the tile lands in the 32x32 cell and by how much it is scaled, by the rule of
    // Tiled's cell renderer: a box of the tile's or the grid's size at the cell's bottom left,
    // the picture stretched to it or fitted by the smaller scale and centred.
    const struct {
        const char* name;
        QString attributes;
        QString offset;
        QRect target;
        int sx, sy;
    } cases[] = {
        {"tile size", "", "", QRect(0, 24, 16, 8), 1, 1},
        {"tile size, stretch", "tilerendersize=\"tile\" fillmode=\"stretch\"", "", QRect(0, 24, 16, 8), 1, 1},
        {"grid, stretch", "tilerendersize=\"grid\"", "", QRect(0, 0, 32, 32), 2, 4},
        {"grid, preserve", "tilerendersize=\"grid\" fillmode=\"preserve-aspect-fit\"", "", QRect(0, 8, 32, 16), 2, 2},
        {"grid, preserve, offset", "tilerendersize=\"grid\" fillmode=\"preserve-aspect-fit\"", "<tileoffset x=\"2\" y=\"-3\"/>",
         QRect(4, 2, 32, 16), 2, 2},
        {"unknown values are the defaults", "tilerendersize=\"huge\" fillmode=\"crop\"", "", QRect(0, 24, 16, 8), 1, 1},
    };
    for (const auto& c : cases) {
        WriteBytes(folder.File("m.tmx"), renderSizeMap(c.attributes, c.offset));
        const QImage picture = drawn(folder.File("m.tmx"));
        ASSERT_EQ(picture.size(), QSize(32, 32)) << c.name;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                const QPoint at(x, y);
                const QRgb want = c.target.contains(at) ? tile.pixel((x - c.target.x()) / c.sx, (y - c.target.y()) / c.sy) : 0u;
                ASSERT_EQ(pixelText(picture.pixel(at)), pixelText(want)) << c.name << " at " << x << "," << y;
            }
        }
    }
}

// Blend modes by the separable formulas of the W3C compositing rules that Qt's composition
// modes (Tiled's blend modes) implement, for an opaque source s over an opaque backdrop b.
double blended(const QString& mode, double b, double s) {
    const auto screen = [](double x, double y) { return x + y - x * y; };
    const auto hardLight = [&](double back, double source) {
        return source <= 0.5 ? 2 * back * source : screen(back, 2 * source - 1);
    };
    if (mode == "add") return std::min(1.0, b + s);
    if (mode == "multiply") return b * s;
    if (mode == "screen") return screen(b, s);
    if (mode == "overlay") return hardLight(s, b);
    if (mode == "darken") return std::min(b, s);
    if (mode == "lighten") return std::max(b, s);
    if (mode == "color-dodge") return s >= 1 ? 1 : std::min(1.0, b / (1 - s));
    if (mode == "color-burn") return s <= 0 ? 0 : 1 - std::min(1.0, (1 - b) / s);
    if (mode == "hard-light") return hardLight(b, s);
    if (mode == "soft-light") {
        const double d = b <= 0.25 ? ((16 * b - 12) * b + 4) * b : std::sqrt(b);
        return s <= 0.5 ? b - (1 - 2 * s) * b * (1 - b) : b + (2 * s - 1) * (d - b);
    }
    if (mode == "difference") return std::abs(b - s);
    if (mode == "exclusion") return b + s - 2 * b * s;
    return s;  // normal
}

TEST(TiledFormat, BlendModesComposeAsTheirDocumentedFormulas) {
    TestFolder folder;
    const QRgb back = qRgb(200, 100, 30), front = qRgb(60, 180, 220);
    QImage sheet(16, 8, QImage::Format_ARGB32);
    sheet.fill(back);
    for (int y = 0; y < 8; ++y) {
        for (int x = 8; x < 16; ++x) {
            sheet.setPixel(x, y, front);
        }
    }
    sheet.save(folder.File("sheet.png"));
    const char* modes[] = {"normal", "add", "multiply", "screen", "overlay", "darken", "lighten", "color-dodge",
                           "color-burn", "hard-light", "soft-light", "difference", "exclusion", "no-such-mode"};
    for (const char* mode : modes) {
        for (const bool json : {false, true}) {
            const QString map =
                json ? QStringLiteral("{\"type\":\"map\",\"orientation\":\"orthogonal\",\"width\":1,\"height\":1,\"tilewidth\":8,"
                                      "\"tileheight\":8,\"tilesets\":[{\"firstgid\":1,\"name\":\"s\",\"tilewidth\":8,\"tileheight\":8,"
                                      "\"image\":\"sheet.png\",\"imagewidth\":16,\"imageheight\":8,\"columns\":2,\"tilecount\":2}],"
                                      "\"layers\":[{\"type\":\"tilelayer\",\"name\":\"b\",\"width\":1,\"height\":1,\"data\":[1]},"
                                      "{\"type\":\"tilelayer\",\"name\":\"f\",\"mode\":\"%1\",\"width\":1,\"height\":1,\"data\":[2]}]}")
                     : QStringLiteral("<map orientation=\"orthogonal\" width=\"1\" height=\"1\" tilewidth=\"8\" tileheight=\"8\">"
                                      "<tileset firstgid=\"1\" name=\"s\" tilewidth=\"8\" tileheight=\"8\"><image source=\"sheet.png\"/></tileset>"
                                      "<layer name=\"b\" width=\"1\" height=\"1\"><data encoding=\"csv\">1</data></layer>"
                                      "<layer name=\"f\" mode=\"%1\" width=\"1\" height=\"1\"><data encoding=\"csv\">2</data></layer></map>");
            const QString file = folder.File(json ? "m.tmj" : "m.tmx");
            WriteBytes(file, map.arg(mode).toUtf8());
            const QRgb got = drawn(file).pixel(3, 3);
            const auto channel = [&](int (*part)(QRgb)) {
                return static_cast<int>(std::lround(255 * blended(mode, part(back) / 255.0, part(front) / 255.0)));
            };
            const int want[] = {channel(qRed), channel(qGreen), channel(qBlue)};
            const int have[] = {qRed(got), qGreen(got), qBlue(got)};
            for (int k = 0; k < 3; ++k) {
                EXPECT_NEAR(have[k], want[k], 2) << mode << (json ? " tmj" : " tmx") << " channel " << k;
            }
            EXPECT_EQ(qAlpha(got), 255) << mode;
        }
    }
}

TEST(TiledFormat, ObjectOpacityMultipliesTheLayers) {
    TestFolder folder;
    QImage white(8, 8, QImage::Format_ARGB32);
    white.fill(qRgb(255, 255, 255));
    white.save(folder.File("w.png"));
    const struct {
        const char* layer;
        const char* object;
        int alpha;
    } cases[] = {{"1", "1", 255}, {"1", "0.5", 128}, {"0.8", "0.5", 102}, {"0.5", "0", 0}};
    for (const auto& c : cases) {
        WriteBytes(folder.File("m.tmx"),
                   QStringLiteral("<map orientation=\"orthogonal\" width=\"1\" height=\"1\" tilewidth=\"8\" tileheight=\"8\">"
                                  "<tileset firstgid=\"1\" name=\"s\" tilewidth=\"8\" tileheight=\"8\"><image source=\"w.png\"/></tileset>"
                                  "<objectgroup name=\"o\" opacity=\"%1\"><object id=\"1\" gid=\"1\" x=\"0\" y=\"8\" width=\"8\" height=\"8\" "
                                  "opacity=\"%2\"/></objectgroup></map>")
                       .arg(c.layer, c.object)
                       .toUtf8());
        EXPECT_NEAR(qAlpha(drawn(folder.File("m.tmx")).pixel(4, 4)), c.alpha, 1) << c.layer << " " << c.object;
    }
}

TEST(TileAnimation, FramesChangeOnceMoreThanTheirDurationHasPassed) {
    const std::vector<TiledFrame> frames = {{0, 100}, {1, 200}, {2, 300}};
    const std::pair<std::int64_t, int> times[] = {{0, 0}, {100, 0}, {101, 1}, {300, 1}, {301, 2}, {600, 2},
                                                  {601, 0}, {1200, 2}, {1201, 0}, {600 * 1000 + 150, 1}};
    for (const auto& [ms, frame] : times) {
        EXPECT_EQ(FrameAt(frames, ms), frame) << ms;
    }
    EXPECT_EQ(FrameAt({{0, 100}, {1, 0}, {2, 100}}, 100000), 1) << "a frame of 0 ms is never left";
}

TEST(TileAnimation, LoopIsTheLeastCommonMultipleAndEveryChange) {
    TiledMap map;
    map.file = "/maps/m.tmx";
    auto tileset = std::make_shared<TiledTileset>();
    tileset->name = "t";
    tileset->tileCount = 8;
    const auto animate = [&](int id, std::vector<TiledFrame> frames) {
        TiledTile tile;
        tile.id = id;
        tile.animation = std::move(frames);
        tileset->tiles[id] = tile;
    };
    animate(0, {{0, 300}, {1, 300}});           // 600 ms
    animate(2, {{2, 250}, {3, 150}});           // 400 ms
    animate(4, {{4, 100}, {4, 100}});           // never shows another tile
    animate(5, {{5, 700000}, {6, 1}});
    animate(6, {{5, 100}, {6, 0}});
    map.tilesets.push_back({1, tileset, false});
    const AnimationLoop loop = LoopOf(map, {1, 3, 5, 0x80000001u});
    EXPECT_EQ(loop.length, 1200);
    EXPECT_EQ(loop.starts, (std::vector<std::int64_t>{0, 250, 300, 400, 600, 650, 800, 900, 1050}));
    EXPECT_EQ(LoopOf(map, {5}).starts, std::vector<std::int64_t>{0});
    EXPECT_EQ(LoopOf(map, {2, 8}).length, 0) << "no animated tile placed";
    for (const std::uint32_t gid : {6u, 7u}) {
        try {
            LoopOf(map, {gid});
            ADD_FAILURE() << gid << " was looped";
        } catch (const RuntimeError& failure) {
            EXPECT_EQ(failure.File(), map.file);
            EXPECT_FALSE(failure.Description().isEmpty());
        }
    }
}

}  // namespace
