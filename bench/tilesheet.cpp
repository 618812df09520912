// Writes the test sheet of the tile benchmark: a side by side RGBA PNG of 32 by 32 tiles
// that look like game art (a few colours each, shapes on a transparent ground, soft
// half-transparent shadows), so compression works as hard as on real sheets.
//
//   bench_tilesheet PATH [side=4096]

#include "imaging/pngwriter.h"
#include "runtime/wholefile.h"

#include <QCoreApplication>
#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <random>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_tilesheet PATH [side=4096]\n");
        return 2;
    }
    const int side = argc > 2 ? std::atoi(argv[2]) : 4096;
    QImage sheet(side, side, QImage::Format_RGBA8888);
    sheet.fill(Qt::transparent);
    std::mt19937 random(16);
    for (int ty = 0; ty + 32 <= side; ty += 32) {
        for (int tx = 0; tx + 32 <= side; tx += 32) {
            QRgb colours[6];
            for (QRgb& c : colours) {
                c = qRgba(static_cast<int>(random() % 256), static_cast<int>(random() % 256),
                          static_cast<int>(random() % 256), 255);
            }
            const int cx = 8 + static_cast<int>(random() % 16);
            const int cy = 8 + static_cast<int>(random() % 16);
            const int radius = 6 + static_cast<int>(random() % 10);
            const bool ground = random() % 3 == 0;
            for (int y = 0; y < 32; ++y) {
                auto* row = reinterpret_cast<uchar*>(sheet.scanLine(ty + y)) + 4 * tx;
                for (int x = 0; x < 32; ++x) {
                    const int d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                    QRgb c = 0;
                    if (d2 < radius * radius) {
                        c = colours[(d2 * 4 / (radius * radius) + (random() % 7 == 0)) % 5];
                    } else if (d2 < (radius + 3) * (radius + 3)) {
                        c = qRgba(0, 0, 0, 64 + 40 * ((x + y) % 3));
                    } else if (ground) {
                        c = colours[5 - ((x / 4 + y / 4) % 2)];
                    }
                    row[4 * x] = static_cast<uchar>(qRed(c));
                    row[4 * x + 1] = static_cast<uchar>(qGreen(c));
                    row[4 * x + 2] = static_cast<uchar>(qBlue(c));
                    row[4 * x + 3] = static_cast<uchar>(qAlpha(c));
                }
            }
        }
    }
    const QByteArray png = EncodePng(sheet, ChooseFilters(sheet, 0, sheet.height()));
    WriteWholeFile(QString::fromLocal8Bit(argv[1]), png.constData(), static_cast<std::size_t>(png.size()));
    return 0;
}
