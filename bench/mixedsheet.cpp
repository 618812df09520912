// Writes a sheet of 16 by 16 tiles of mixed kinds, as real tile art mixes them: smooth gradients,
// gradients with noise over them, translucent ones (glass, shadows, water) and flat pixel art.
// Filters and compression meet every case at once, unlike on a sheet of one kind.
//
//   bench_mixedsheet PATH [side=4096]

#include "imaging/pngwriter.h"
#include "runtime/wholefile.h"

#include <QCoreApplication>
#include <QImage>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace {
uchar clamp(int v) { return static_cast<uchar>(std::clamp(v, 0, 255)); }
}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_mixedsheet PATH [side=4096]\n");
        return 2;
    }
    const int side = argc > 2 ? std::atoi(argv[2]) : 4096;
    QImage sheet(side, side, QImage::Format_RGBA8888);
    sheet.fill(Qt::transparent);
    std::mt19937 random(37);
    for (int ty = 0; ty + 16 <= side; ty += 16) {
        for (int tx = 0; tx + 16 <= side; tx += 16) {
            const int kind = static_cast<int>(random() % 10);  // 0-4 gradient, 5 noisy, 6-7 translucent, 8-9 flat
            int from[4];
            int to[4];
            for (int c = 0; c < 4; ++c) {
                from[c] = static_cast<int>(random() % 256);
                to[c] = static_cast<int>(random() % 256);
            }
            const int dx = static_cast<int>(random() % 3);
            const int dy = 2 - dx;
            const int noise = kind == 5 ? 6 : 0;
            const int colours = 2 + static_cast<int>(random() % 4);
            for (int y = 0; y < 16; ++y) {
                uchar* row = sheet.scanLine(ty + y) + 4 * tx;
                for (int x = 0; x < 16; ++x) {
                    const int t = (x * dx + y * dy) * 255 / 30;
                    for (int c = 0; c < 4; ++c) {
                        int v = from[c] + (to[c] - from[c]) * t / 255;
                        if (kind >= 8) {
                            v = ((x / 4 + y / 4 + c) % colours) * 255 / colours;
                        }
                        if (noise > 0 && c < 3) {
                            v += static_cast<int>(random() % (2 * noise + 1)) - noise;
                        }
                        if (c == 3) {
                            v = kind >= 6 && kind <= 7 ? 40 + t * 3 / 4 : 255;
                        }
                        row[4 * x + c] = clamp(v);
                    }
                }
            }
        }
    }
    const QByteArray png = EncodePng(sheet, ChooseFilters(sheet, 0, sheet.height()));
    WriteWholeFile(QString::fromLocal8Bit(argv[1]), png.constData(), static_cast<std::size_t>(png.size()));
    return 0;
}
