#include "support/testsupport.h"

#include "maps/maprenderer.h"
#include "maps/tileblend.h"
#include "tiled/tiledfiles.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <random>

namespace {

// Premultiplied pixels of every kind: opaque, clear and translucent, each channel at most its alpha.
QImage premultipliedNoise(QSize size, unsigned seed) {
    std::mt19937 random(seed);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const unsigned kind = random() % 4;
            const int alpha = kind == 0 ? 0 : kind == 1 ? 255 : static_cast<int>(random() % 256);
            const auto channel = [&] { return alpha == 0 ? 0 : static_cast<int>(random() % static_cast<unsigned>(alpha + 1)); };
            image.setPixel(x, y, qRgba(channel(), channel(), channel(), alpha));
        }
    }
    return image;
}

// "" for equal pictures, else the first pixel that differs.
std::string difference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.format() != b.format()) {
        return "sizes or formats differ";
    }
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y)) {
                return QStringLiteral("(%1,%2): %3 against %4").arg(x).arg(y).arg(a.pixel(x, y), 8, 16).arg(b.pixel(x, y), 8, 16).toStdString();
            }
        }
    }
    return "";
}

TEST(TileBlend, EqualsQPaintersDrawingAtWholePixels) {
    const QImage canvas = premultipliedNoise(QSize(37, 23), 1);
    const struct {
        QSize size;
        QPoint at;
    } places[] = {
        {{16, 16}, {3, 2}},     // inside
        {{16, 16}, {-5, -7}},   // over the top-left corner
        {{16, 16}, {30, 15}},   // over the bottom-right corner
        {{1, 1}, {36, 22}},     // one pixel, at the last
        {{7, 5}, {0, 0}},       // odd sizes: the vector loop's tail
        {{17, 3}, {21, 9}},
        {{37, 23}, {0, 0}},     // the whole canvas
        {{9, 9}, {40, 0}},      // wholly outside
    };
    // The canvas with the tile drawn over it by QPainter.
    const auto painted = [&](const QImage& tile, QPoint at, double opacity) {
        QImage drawn = canvas.copy();
        QPainter painter(&drawn);
        painter.setOpacity(opacity);
        painter.drawImage(at, tile);
        painter.end();
        return drawn;
    };
    for (const double opacity : {1.0, 0.999, 0.5, 0.3, 0.001, 0.0}) {
        for (const auto& place : places) {
            const QImage tile = premultipliedNoise(place.size, static_cast<unsigned>(place.size.width() * 31 + place.at.x()));
            QImage blended = canvas.copy();
            BlendPremultiplied(blended, tile, place.at, opacity);
            EXPECT_EQ(difference(blended, painted(tile, place.at, opacity)), "")
                << "opacity " << opacity << " at " << place.at.x() << "," << place.at.y() << " size " << place.size.width() << "x"
                << place.size.height();
            // An opaque tile, whose rows are copied at full opacity.
            const QImage opaque = tile.convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_ARGB32_Premultiplied);
            ASSERT_TRUE(Opaque(opaque));
            QImage copied = canvas.copy();
            PremultipliedCanvas(copied).Blend(opaque, place.at, opacity, true);
            EXPECT_EQ(difference(copied, painted(opaque, place.at, opacity)), "")
                << "opaque, opacity " << opacity << " at " << place.at.x() << "," << place.at.y();
        }
    }
}

// A map the direct path draws, drawn again onto a canvas of another format, which the
// painter draws: flips, opacities, tiles past their cells and past the picture's edge,
// a tileset offset, odd sizes, whole and half-pixel layer offsets.
TEST(TileBlend, MapsDrawnDirectlyEqualThePaintersDrawing) {
    TestFolder folder;
    ASSERT_TRUE(premultipliedNoise(QSize(21, 10), 2).save(folder.File("small.png")));  // 3x2 tiles of 7x5
    ASSERT_TRUE(premultipliedNoise(QSize(18, 11), 3).save(folder.File("big.png")));    // 2x1 tiles of 9x11
    const auto gids = [](std::uint32_t first, unsigned seed) {
        std::mt19937 random(seed);
        const std::uint32_t flips[] = {0, 0x80000000u, 0x40000000u, 0x20000000u, 0xE0000000u, 0xA0000000u};
        QStringList cells;
        for (int k = 0; k < 11 * 9; ++k) {
            cells += random() % 5 == 0 ? QStringLiteral("0") : QString::number((1 + (first + random() % 6) % 8) | flips[random() % 6]);
        }
        return cells.join(',');
    };
    const QString map =
        QStringLiteral("<map version=\"1.8\" orientation=\"orthogonal\" renderorder=\"%1\" width=\"11\" height=\"9\" "
                       "tilewidth=\"7\" tileheight=\"5\" infinite=\"0\">"
                       "<tileset firstgid=\"1\" name=\"s\" tilewidth=\"7\" tileheight=\"5\" tilecount=\"6\" columns=\"3\">"
                       "<image source=\"small.png\" width=\"21\" height=\"10\"/></tileset>"
                       "<tileset firstgid=\"7\" name=\"b\" tilewidth=\"9\" tileheight=\"11\" tilecount=\"2\" columns=\"2\">"
                       "<tileoffset x=\"-2\" y=\"3\"/><image source=\"big.png\" width=\"18\" height=\"11\"/></tileset>"
                       "<layer id=\"1\" name=\"a\" width=\"11\" height=\"9\"><data encoding=\"csv\">%2</data></layer>"
                       "<layer id=\"2\" name=\"b\" width=\"11\" height=\"9\" opacity=\"0.5\" offsetx=\"3\" offsety=\"-4\">"
                       "<data encoding=\"csv\">%3</data></layer>"
                       "<group id=\"4\" name=\"g\" opacity=\"0.6\" offsetx=\"-1\"><layer id=\"3\" name=\"c\" width=\"11\" height=\"9\" "
                       "opacity=\"0.7\" offsetx=\"%4\"><data encoding=\"csv\">%5</data></layer></group></map>");
    for (const char* order : {"right-down", "left-up"}) {
        for (const char* offset : {"2", "2.5"}) {
            WriteBytes(folder.File("m.tmx"), map.arg(order, gids(0, 4), gids(4, 5), offset, gids(2, 6)).toUtf8());
            const TiledMap loaded = LoadMap(folder.File("m.tmx"));
            MapRenderer renderer(loaded, {});
            const QImage direct = renderer.Draw();
            QImage painted(direct.size(), QImage::Format_RGBA8888_Premultiplied);
            painted.fill(Qt::transparent);
            // The picture reaches 4 rows above the cells, for the layer offset 4 up.
            renderer.DrawOnto(painted, renderer.MapBounds().topLeft() - QPoint(0, 4), QSizeF(1, 1));
            EXPECT_EQ(difference(direct, painted.convertToFormat(QImage::Format_ARGB32_Premultiplied)), "") << order << " offset " << offset;
        }
    }
}

}  // namespace
