#include "imaging/pixelcopy.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Rows of each kind the fast path tells apart: opaque, clear, both, and a translucent pixel
// among opaque ones, at widths around the vector sizes.
TEST(PixelCopy, StraightRgbaIsWhatQtConvertsToo) {
    for (const int width : {1, 5, 16, 37}) {
        std::mt19937 random(static_cast<unsigned>(width));
        QImage picture(width, 4, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < width; ++x) {
                const int alpha = y == 0 ? 255 : y == 1 ? 0 : y == 2 ? (x % 2 == 0 ? 255 : 0) : (x == width / 2 ? 77 : 255);
                const auto channel = [&] { return alpha == 0 ? 0 : static_cast<int>(random() % static_cast<unsigned>(alpha + 1)); };
                picture.setPixel(x, y, qRgba(channel(), channel(), channel(), alpha));
            }
        }
        QImage ours(picture.size(), QImage::Format_RGBA8888);
        ToStraightRgba(picture, ours);
        EXPECT_EQ(ours, picture.convertToFormat(QImage::Format_RGBA8888)) << "width " << width;
    }
}

}  // namespace
