#include "maps/scaledblend.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <random>

namespace {

// Pixels of every kind, opaque, clear and translucent (or only the first two), in the given format.
QImage noise(QSize size, unsigned seed, QImage::Format format, unsigned kinds = 4) {
    std::mt19937 random(seed);
    QImage image(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const unsigned kind = random() % kinds;
            const int alpha = kind == 0 ? 0 : kind == 1 ? 255 : static_cast<int>(random() % 256);
            const auto channel = [&] {
                return alpha == 0 ? 0 : static_cast<int>(random() % 256);
            };  // clear is 0, as a canvas holds it
            image.setPixel(x, y, qRgba(channel(), channel(), channel(), alpha));
        }
    }
    return image.convertToFormat(format);
}

// Scales, mirrors, odd sizes, edges past the canvas and moves far enough that Qt leaves its
// fixed point steps: each drawn by the painter and by BlendScaled, whose pictures must
// agree once premultiplied.
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
        {QTransform().translate(30.7, 3.1).rotate(90).scale(1.5, 1.5),
         {24, 10},
         {16, 16}},  // past the top edge
        {QTransform().translate(3, 27.4).rotate(90).scale(-3, -3),
         {8, 8},
         {8, 8}},  // past the bottom and left
        {QTransform().translate(5100.3, 10.1).rotate(90).scale(0.5, 0.5), {32, 32}, {32, 32}},
    };
    // Opaque and clear pixels over opaque and clear ones, which need no blending, and every kind.
    for (const unsigned kinds : {2u, 4u}) {
        const QImage canvas = noise(QSize(5120, 29), 1, QImage::Format_ARGB32, kinds);
        for (const double opacity : {1.0, 0.5, 0.3}) {
            for (std::size_t k = 0; k < std::size(cases); ++k) {
                const auto& c = cases[k];
                const QImage picture = noise(c.picture, static_cast<unsigned>(k + 2),
                                             QImage::Format_ARGB32_Premultiplied, kinds);
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
                const QImage ours = blended.convertToFormat(QImage::Format_ARGB32_Premultiplied);
                const QImage theirs = painted.convertToFormat(QImage::Format_ARGB32_Premultiplied);
                for (int y = 0; y < ours.height(); ++y) {
                    for (int x = 0; x < ours.width(); ++x) {
                        ASSERT_EQ(ours.pixel(x, y), theirs.pixel(x, y))
                            << "case " << k << " opacity " << opacity << " kinds " << kinds << " at " << x
                            << "," << y;
                    }
                }
                EXPECT_NE(painted, canvas) << "case " << k << " draws nothing";
            }
        }
    }
}

}  // namespace
