#pragma once

// Tile folders and sheet checks shared by the surface and compile tests.

#include "imaging/picture.h"
#include "support/testsupport.h"
#include "surfaces/directdraw.h"
#include "surfaces/modrecs.h"

#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

#include <map>
#include <vector>

// Pixel (x, y) of tile n: differs between tiles (below 256) and between positions, so a tile
// drawn in the wrong cell, shifted or flipped shows.
inline QRgb TilePixel(int n, int x, int y) {
    return qRgb((n * 5 + x * 7) & 255, (n * 11 + y * 7) & 255, (n * 3 + (x ^ y) * 4 + 16) & 255);
}

inline QImage TileImage(int n, int width = 32, int height = 32) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, TilePixel(n, x, y));
        }
    }
    return image;
}

// Writes n.bmp (24 bits) into the folder; false when the write failed.
inline bool WriteTile(const QString& folder, int n, int width = 32, int height = 32) {
    return TileImage(n, width, height).save(folder + "/" + QString::number(n) + ".bmp", "BMP");
}

inline void WriteInfo(const QString& folder, const QString& numFiles) {
    WriteBytes(folder + "/info.ini", ("[MAIN]\r\nNumFiles=" + numFiles + "\r\n").toUtf8());
}

// A folder of tiles first .. first + count - 1 with NumFiles = numFiles.
inline QString MakeTileFolder(const QString& folder, int first, int count, const QString& numFiles) {
    QDir().mkpath(folder);
    for (int n = first; n < first + count; ++n) {
        EXPECT_TRUE(WriteTile(folder, n)) << n;
    }
    WriteInfo(folder, numFiles);
    return folder;
}

// The first pixel where the sheet differs from the cells (row by row, tile numbers, -1 for a
// cell that keeps the background; cells not listed keep it too), or "" when none does. A tile
// listed in smallTiles covers only that much of its cell's top-left corner.
inline QString SheetMismatch(const QImage& sheet, const std::vector<std::vector<int>>& cells,
                             const std::map<int, QSize>& smallTiles = {}) {
    const QRgb background = Picture::Background().rgb();
    for (int y = 0; y < sheet.height(); ++y) {
        for (int x = 0; x < sheet.width(); ++x) {
            const std::size_t row = static_cast<std::size_t>(y / 32);
            const std::size_t column = static_cast<std::size_t>(x / 32);
            int tile = -1;
            if (row < cells.size() && column < cells[row].size()) {
                tile = cells[row][column];
            }
            if (const auto small = smallTiles.find(tile); small != smallTiles.end()) {
                if (x % 32 >= small->second.width() || y % 32 >= small->second.height()) {
                    tile = -1;
                }
            }
            const QRgb expected = tile < 0 ? background : TilePixel(tile, x % 32, y % 32);
            const QRgb seen = sheet.pixel(x, y);
            if ((seen & 0xFFFFFF) != (expected & 0xFFFFFF)) {
                return QStringLiteral("pixel (%1, %2) of cell %3,%4: %5 instead of %6")
                    .arg(x).arg(y).arg(row).arg(column)
                    .arg(seen & 0xFFFFFF, 6, 16, QLatin1Char('0'))
                    .arg(expected & 0xFFFFFF, 6, 16, QLatin1Char('0'));
            }
        }
    }
    return QString();
}

// Counts the tile files the image layer reads, by file name (the tile number part).
class ReadCounter {
public:
    ReadCounter() {
        SetSurfaceFileObserver([this](const QString& file) {
            QString name = file.section('/', -1);
            name.chop(4);
            names_.append(name);
        });
    }
    ~ReadCounter() { SetSurfaceFileObserver(nullptr); }
    int Total() const { return static_cast<int>(names_.size()); }
    int Of(int n) const { return static_cast<int>(names_.count(QString::number(n))); }
    const QStringList& Names() const { return names_; }
    void Clear() { names_.clear(); }

private:
    QStringList names_;
};

// The error numbers of the entries in Errors.Log of the program folder, in order.
inline std::vector<int> LoggedNumbers(const TestFolder& program) {
    std::vector<int> numbers;
    const QString log = QString::fromUtf8(ReadBytes(program.File("Errors.Log")));
    static const QRegularExpression line(QStringLiteral("Error #(-?\\d+)"));
    for (auto it = line.globalMatch(log); it.hasNext();) {
        numbers.push_back(it.next().captured(1).toInt());
    }
    return numbers;
}

// Starts each test with the records as the program starts with them.
class FreshRecords : public ::testing::Test {
protected:
    void SetUp() override { modRecs::Reset(); }
    void TearDown() override { modRecs::Reset(); }
};
