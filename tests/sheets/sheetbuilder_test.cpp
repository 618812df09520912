#include "support/testsupport.h"

#include "sheets/sheetbuilder.h"

#include <gtest/gtest.h>

#include <QImage>

namespace {

constexpr int Side = 32;

QRgb pixelOf(int n, int x, int y) { return qRgb(n & 255, (n >> 8) * 16 + x, y * 16); }

// Bitmap tiles are decoded into shared surface memory on every core at once; enough of them
// fill many blocks, so blocks are taken and freed on several threads together.
TEST(SheetBuilder, ThousandsOfBitmapTilesLandInTheirCells) {
    constexpr int Count = 2000;
    constexpr int Columns = 50;
    const TestFolder folder;
    for (int n = 0; n < Count; ++n) {
        QImage tile(Side, Side, QImage::Format_RGB888);
        for (int y = 0; y < Side; ++y) {
            for (int x = 0; x < Side; ++x) {
                tile.setPixel(x, y, pixelOf(n, x, y));
            }
        }
        ASSERT_TRUE(tile.save(folder.File(QString::number(n) + ".bmp"), "BMP"));
    }
    const SheetBuilder builder(TileGrid(QSize(Side, Side)), Columns, Count, TileFormat::Bmp);
    for (int round = 0; round < 5; ++round) {
        const QImage sheet = builder.Build([&](std::int64_t k) { return folder.File(QString::number(k) + ".bmp"); });
        ASSERT_EQ(sheet.size(), QSize(Columns * Side, Count / Columns * Side));
        int wrong = 0;
        for (int n = 0; n < Count; ++n) {
            for (int y = 0; y < Side; ++y) {
                for (int x = 0; x < Side; ++x) {
                    wrong += (sheet.pixel(n % Columns * Side + x, n / Columns * Side + y) & 0xFFFFFFu) != (pixelOf(n, x, y) & 0xFFFFFFu);
                }
            }
        }
        EXPECT_EQ(wrong, 0) << "round " << round;
    }
}

}  // namespace
