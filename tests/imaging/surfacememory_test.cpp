#include "imaging/surfacememory.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

void Fill(QImage& image, QRgb value) {
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::fill(row, row + image.width(), value);
    }
}

bool HoldsOnly(const QImage& image, QRgb value) {
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (row[x] != value) {
                return false;
            }
        }
    }
    return true;
}

TEST(SurfaceMemory, ImagesNeverShareMemory) {
    // Enough tiles (and odd sizes) to fill several blocks; every one keeps its own pixels.
    std::vector<QImage> images;
    for (int i = 0; i < 3000; ++i) {
        const int side = 32 + (i % 3);
        images.push_back(NewSurfaceImage(side, side - 1));
        ASSERT_EQ(images.back().format(), QImage::Format_RGB32);
        ASSERT_EQ(images.back().size(), QSize(side, side - 1));
        Fill(images.back(), 0xFF000000u | static_cast<QRgb>(i));
    }
    // Free every other image, then make new ones in between.
    for (std::size_t i = 0; i < images.size(); i += 2) {
        images[i] = QImage();
    }
    for (int i = 0; i < 1500; ++i) {
        images.push_back(NewSurfaceImage(32, 32));
        Fill(images.back(), 0xFF000000u | static_cast<QRgb>(100000 + i));
    }
    for (std::size_t i = 0; i < images.size(); ++i) {
        if (images[i].isNull()) {
            continue;
        }
        const QRgb expected = 0xFF000000u | static_cast<QRgb>(i < 3000 ? i : 100000 + (i - 3000));
        ASSERT_TRUE(HoldsOnly(images[i], expected)) << i;
    }
}

TEST(SurfaceMemory, CopiesOutliveTheOriginal) {
    QImage copy;
    {
        QImage original = NewSurfaceImage(32, 32);
        Fill(original, qRgb(1, 2, 3));
        copy = original;
    }
    for (int i = 0; i < 1000; ++i) {
        QImage other = NewSurfaceImage(32, 32);
        Fill(other, qRgb(9, 9, 9));
    }
    EXPECT_TRUE(HoldsOnly(copy, qRgb(1, 2, 3)));
}

TEST(SurfaceMemory, SizesOutsideTheSharedRange) {
    EXPECT_TRUE(NewSurfaceImage(0, 5).isNull());
    EXPECT_TRUE(NewSurfaceImage(5, -1).isNull());
    QImage big = NewSurfaceImage(300, 200);
    ASSERT_EQ(big.size(), QSize(300, 200));
    Fill(big, qRgb(4, 5, 6));
    EXPECT_TRUE(HoldsOnly(big, qRgb(4, 5, 6)));
}

TEST(SurfaceMemory, ThreadsMakeAndDropImagesAtOnce) {
    // Tiles are loaded on every core and dropped on others: no image may share pixels with
    // another, and no block may be freed twice (the sanitizer build sees that).
    constexpr int Threads = 4;
    std::vector<bool> kept(Threads, true);
    std::vector<std::thread> threads;
    std::vector<QImage> handed(Threads * 500);
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            std::vector<QImage> mine;
            for (int i = 0; i < 4000; ++i) {
                const QRgb value = 0xFF000000u | static_cast<QRgb>(t << 16 | i);
                mine.push_back(NewSurfaceImage(32, 32));
                Fill(mine.back(), value);
                if (i % 8 == 0) {
                    handed[static_cast<std::size_t>(t * 500 + i / 8)] = mine.back();
                }
                if (i % 3 == 0) {
                    mine[static_cast<std::size_t>(i) / 2] = QImage();
                }
            }
            for (std::size_t i = 0; i < mine.size(); ++i) {
                if (!mine[i].isNull() && !HoldsOnly(mine[i], 0xFF000000u | static_cast<QRgb>(t << 16 | static_cast<int>(i)))) {
                    kept[static_cast<std::size_t>(t)] = false;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < Threads; ++t) {
        EXPECT_TRUE(kept[static_cast<std::size_t>(t)]) << "thread " << t;
        for (int k = 0; k < 500; ++k) {
            EXPECT_TRUE(HoldsOnly(handed[static_cast<std::size_t>(t * 500 + k)], 0xFF000000u | static_cast<QRgb>(t << 16 | k * 8)));
        }
    }
}

}  // namespace
