#include "conversion/compilefixture.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

// A picture in which every pixel differs from its neighbours and from the canvas background.
QImage BigPicture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, qRgb(x & 255, y & 255, ((x >> 8) * 64 + (y >> 8) * 16 + (x ^ y)) & 255));
        }
    }
    return image;
}

TEST_F(Compile, SplitThenCompileGivesThePictureBack) {
    const QImage big = BigPicture(640, 480);
    ASSERT_TRUE(big.save(program.File("big.bmp"), "BMP"));

    form.SelectSplit(true);
    form.SetText(Box::ipath, program.File("big.bmp"));
    form.SetText(Box::spath, Tiles());
    form.SetText(Box::txtStart, "0");
    form.SetText(Box::txtWidth, "20");
    converter.Command1_Click();
    ASSERT_TRUE(LoggedNumbers(program).empty());
    ASSERT_TRUE(QFileInfo::exists(Tiles() + "/299.bmp"));

    Run(Tiles(), Out(), "0", "20");
    ASSERT_TRUE(LoggedNumbers(program).empty());
    EXPECT_EQ(form.NumTileSurfs, "300");
    EXPECT_EQ(reads.Total(), 300);

    // 300 / 20 * 34 + 128 rows of pixels: the picture on top, the background below.
    const QImage sheet = QImage(Sheet()).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(sheet.size(), QSize(640, 638));
    EXPECT_EQ(sheet.copy(0, 0, 640, 480), big);
    const QRgb background = Picture::Background().rgb();
    for (int y = 480; y < 638; ++y) {
        for (int x = 0; x < 640; ++x) {
            ASSERT_EQ(sheet.pixel(x, y), background) << x << "," << y;
        }
    }
}

}  // namespace
