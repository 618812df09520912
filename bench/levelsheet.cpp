// Writes the level picture of the level benchmark: side by side cells of 32 by 32, each one
// of 256 distinct game-like tiles placed in one of the eight orientations a map can give.
// Also compares two pictures pixel for pixel, as the benchmark's check of a round trip.
//
//   bench_levelsheet PATH [side=4096]
//   bench_levelsheet --same A B        exit 0 when the pictures are equal (RGBA)

#include "imaging/picturefile.h"
#include "imaging/pngwriter.h"
#include "runtime/runtimeerror.h"
#include "runtime/wholefile.h"
#include "sheets/tileindex.h"

#include <QCoreApplication>
#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {
QImage gameTile(std::mt19937& random) {
    QImage tile(32, 32, QImage::Format_RGBA8888);
    QRgb colours[4];
    for (QRgb& c : colours) {
        c = qRgba(static_cast<int>(random() % 256), static_cast<int>(random() % 256), static_cast<int>(random() % 256), 255);
    }
    const int cx = 6 + static_cast<int>(random() % 14);
    const int cy = 9 + static_cast<int>(random() % 10);
    const int radius = 5 + static_cast<int>(random() % 8);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const int d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            const QRgb c = d2 < radius * radius ? colours[(d2 * 3 / (radius * radius) + x / 9) % 4]
                           : d2 < (radius + 3) * (radius + 3) ? qRgba(0, 0, 0, 64 + 40 * ((x + y) % 3))
                                                              : colours[3 - (x / 4 + y / 8) % 2];
            uchar* p = tile.scanLine(y) + 4 * x;
            p[0] = static_cast<uchar>(qRed(c));
            p[1] = static_cast<uchar>(qGreen(c));
            p[2] = static_cast<uchar>(qBlue(c));
            p[3] = static_cast<uchar>(qAlpha(c));
        }
    }
    return tile;
}
}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    try {
        if (argc == 4 && std::strcmp(argv[1], "--same") == 0) {
            const QImage a = LoadPicture(QString::fromLocal8Bit(argv[2])).convertToFormat(QImage::Format_RGBA8888);
            const QImage b = LoadPicture(QString::fromLocal8Bit(argv[3])).convertToFormat(QImage::Format_RGBA8888);
            return a == b ? 0 : 1;
        }
        if (argc < 2) {
            std::fprintf(stderr, "usage: bench_levelsheet PATH [side=4096] | --same A B\n");
            return 2;
        }
        const int side = argc > 2 ? std::atoi(argv[2]) : 4096;
        std::mt19937 random(17);
        std::vector<QImage> tiles;
        for (int n = 0; n < 256; ++n) {
            tiles.push_back(gameTile(random));
        }
        QImage level(side, side, QImage::Format_RGBA8888);
        level.fill(Qt::transparent);
        for (int ty = 0; ty + 32 <= side; ty += 32) {
            for (int tx = 0; tx + 32 <= side; tx += 32) {
                const QImage tile = OrientedTile(tiles[random() % 256], static_cast<std::uint32_t>(random() % 8) << 29);
                for (int y = 0; y < 32; ++y) {
                    std::memcpy(level.scanLine(ty + y) + 4 * tx, tile.constScanLine(y), 4 * 32);
                }
            }
        }
        const QByteArray png = EncodePng(level, ChooseFilters(level, 0, level.height()));
        WriteWholeFile(QString::fromLocal8Bit(argv[1]), png.constData(), static_cast<std::size_t>(png.size()));
        return 0;
    } catch (const RuntimeError& failure) {
        std::fprintf(stderr, "bench_levelsheet: %s\n", failure.Description().toLocal8Bit().constData());
        return 1;
    }
}
