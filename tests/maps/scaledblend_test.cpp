#include "maps/scaledblend.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <cstring>
#include <random>

namespace {

// Pixels of the kinds from first to first + kinds - 1 of clear, opaque and translucent (twice
// as often, or one in 16 where rare), in the given format, each row repeated.
QImage noise(QSize size, unsigned seed, QImage::Format format, unsigned first, unsigned kinds, bool rare = false,
             int repeat = 1) {
    std::mt19937 random(seed);
    QImage image(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y) {
        if (y % repeat != 0) {
            std::memcpy(image.scanLine(y), image.constScanLine(y - 1), static_cast<std::size_t>(image.bytesPerLine()));
            continue;
        }
        for (int x = 0; x < size.width(); ++x) {
            const unsigned kind = rare ? (random() % 16 == 0 ? 2 : random() % 2) : first + random() % kinds;
            const int alpha = kind == 0 ? 0 : kind == 1 ? 255 : static_cast<int>(random() % 256);
            // A clear pixel is 0, as a canvas holds it.
            const auto channel = [&] { return alpha == 0 ? 0 : static_cast<int>(random() % 256); };
            image.setPixel(x, y, qRgba(channel(), channel(), channel(), alpha));
        }
    }
    return image.convertToFormat(format);
}

// Scales, mirrors, odd sizes, edges past the canvas and moves far enough that Qt leaves its
// fixed point steps: each drawn by the painter and by BlendScaled, whose pictures must
// be the same bytes.
TEST(ScaledBlend, EqualsQPaintersDrawingOntoArgb32) {
    const struct {
        QTransform matrix;
        QSizeF target;  // the rectangle's size, centred on the origin
        QSize picture;
    } cases[] = {
        {QTransform(0.5, 0, 0, 0.5, 20.3, 11.7), {16, 16}, {16, 16}},
        {QTransform(0.37, 0, 0, 0.37, 9, 8), {64, 64}, {64, 64}},
        {QTransform(2, 0, 0, 2, 13.25, 9.5), {13, 7}, {13, 7}},
        {QTransform(3, 0, 0, 3, 30, 30), {16, 16}, {16, 16}},
        {QTransform(-0.37, 0, 0, 0.37, 20.1, 12), {64, 32}, {64, 32}},  // mirrored
        {QTransform(2, 0, 0, -2, 15.5, 16.2), {13, 7}, {13, 7}},        // flipped
        {QTransform(-1.5, 0, 0, -0.75, 22, 14), {16, 16}, {16, 16}},
        {QTransform(1.5, 0, 0, 1.5, 4.4, 3.3), {24, 10}, {16, 16}},      // stretched by the rectangle
        {QTransform(0.5, 0, 0, 0.5, -2.2, 37.9), {40, 40}, {40, 40}},    // past the left and bottom edges
        {QTransform(0.5, 0, 0, 0.5, 5100.3, 10.1), {32, 32}, {32, 32}},  // far: floating point steps
        {QTransform(3, 0, 0, 3, 20.2, 20.6), {2, 1}, {2, 1}},
        // Quarter turns, mirrored or not, as Tiled turns diagonally flipped cells.
        {QTransform().translate(20.3, 12.6).rotate(90).scale(0.5, 0.5), {16, 16}, {16, 16}},
        {QTransform().translate(19, 14.2).rotate(90).scale(-0.37, 0.37), {64, 32}, {64, 32}},
        {QTransform().translate(17.5, 9).rotate(270).scale(2, -2), {13, 7}, {13, 7}},
        // Past the top edge, then past the bottom and left.
        {QTransform().translate(30.7, 3.1).rotate(90).scale(1.5, 1.5), {24, 10}, {16, 16}},
        {QTransform().translate(3, 27.4).rotate(90).scale(-3, -3), {8, 8}, {8, 8}},
        {QTransform().translate(5100.3, 10.1).rotate(90).scale(0.5, 0.5), {32, 32}, {32, 32}},
    };
    // Opaque and clear pixels over opaque and clear ones, every kind over opaque ones, and over
    // every kind; a few translucent ones over a canvas of rows in threes, as an enlarged map's.
    const struct {
        unsigned first, kinds;  // of the picture's pixels
        unsigned canvasFirst, canvasKinds;
        bool rare = false;
        int canvasRepeat = 1;
    } mixes[] = {{0, 2, 0, 2}, {0, 4, 1, 1}, {0, 4, 0, 4}, {0, 0, 0, 4, true, 3}};
    for (const auto& mix : mixes) {
        const QImage canvas = noise(QSize(5120, 29), 1, QImage::Format_ARGB32, mix.canvasFirst, mix.canvasKinds,
                                    false, mix.canvasRepeat);
        for (const double opacity : {1.0, 0.5, 0.3}) {
            for (std::size_t k = 0; k < std::size(cases); ++k) {
                const auto& c = cases[k];
                const QImage picture = noise(c.picture, static_cast<unsigned>(k + 2),
                                             QImage::Format_ARGB32_Premultiplied, mix.first, mix.kinds, mix.rare);
                const QRectF target(-c.target.width() / 2, -c.target.height() / 2, c.target.width(),
                                    c.target.height());
                QImage painted = canvas.copy(), blended = canvas.copy();
                {
                    QPainter painter(&painted);
                    painter.setOpacity(opacity);
                    painter.setWorldTransform(c.matrix);
                    painter.drawImage(target, picture, QRectF(QPointF(), picture.size()));
                }
                QPainter painter(&blended);
                painter.setOpacity(opacity);
                ASSERT_TRUE(BlendScaled(painter, c.matrix, picture, target)) << "case " << k;
                painter.end();
                for (int y = 0; y < blended.height(); ++y) {
                    for (int x = 0; x < blended.width(); ++x) {
                        ASSERT_EQ(blended.pixel(x, y), painted.pixel(x, y))
                            << "case " << k << " opacity " << opacity << " mix " << mix.first
                            << mix.canvasFirst << " at " << x << "," << y;
                    }
                }
                EXPECT_NE(painted, canvas) << "case " << k << " draws nothing";
            }
        }
    }
}

}  // namespace
