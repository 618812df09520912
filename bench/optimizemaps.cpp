// Writes the maps of the optimize benchmark: three sheet tilesets of game-like 16 by 16
// tiles, each with duplicates of tiles of the others, mirrored and turned copies and tiles no
// map uses, and maps of one CSV tile layer over all three, cells placed with any flips.
//
//   bench_optimizemaps FOLDER [maps=20] [cells=256] [tiles=1024]

#include "runtime/runtimeerror.h"
#include "runtime/wholefile.h"
#include "sheets/tileformat.h"
#include "sheets/tileindex.h"
#include "tiled/tilesetfile.h"

#include <QCoreApplication>
#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {
constexpr int Side = 16;
constexpr int Columns = 32;

QImage gameTile(std::mt19937& random) {
    QImage tile(Side, Side, QImage::Format_RGBA8888);
    const QRgb ground = qRgba(static_cast<int>(random() % 256), static_cast<int>(random() % 256), 90, 255);
    const QRgb mark = qRgba(static_cast<int>(random() % 256), 40, static_cast<int>(random() % 256), 255);
    const int cx = 3 + static_cast<int>(random() % 9);
    const int cy = 2 + static_cast<int>(random() % 11);
    const int radius = 2 + static_cast<int>(random() % 5);
    for (int y = 0; y < Side; ++y) {
        for (int x = 0; x < Side; ++x) {
            const int d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            const QRgb c = d2 < radius * radius ? mark : d2 < (radius + 2) * (radius + 2) ? qRgba(0, 0, 0, 96) : ground;
            tile.setPixelColor(x, y, QColor::fromRgba(c));
        }
    }
    return tile;
}
}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_optimizemaps FOLDER [maps=20] [cells=256] [tiles=1024]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]) + "/";
    const int maps = argc > 2 ? std::atoi(argv[2]) : 20;
    const int cells = argc > 3 ? std::atoi(argv[3]) : 256;
    const int count = argc > 4 ? std::atoi(argv[4]) : 1024;
    try {
        std::mt19937 random(24);
        std::vector<QImage> pool;
        const int rows = (count + Columns - 1) / Columns;
        const TileGrid grid(QSize(Side, Side));
        for (int set = 0; set < 3; ++set) {
            QImage sheet(Columns * Side, rows * Side, QImage::Format_RGBA8888);
            sheet.fill(Qt::transparent);
            for (int id = 0; id < count; ++id) {
                // A quarter of the tiles repeat one met before, as it was or turned.
                QImage tile = pool.empty() || random() % 4 != 0
                                  ? gameTile(random)
                                  : OrientedTile(pool[random() % pool.size()], static_cast<std::uint32_t>(random() % 8) << 29);
                pool.push_back(tile);
                for (int y = 0; y < Side; ++y) {
                    std::memcpy(sheet.scanLine((id / Columns) * Side + y) + 4 * (id % Columns) * Side, tile.constScanLine(y),
                                4 * Side);
                }
            }
            const QString name = QStringLiteral("set%1").arg(set + 1);
            WriteTileImage(sheet, sheet.width(), sheet.height(), TileFormat::Png, ChooseFilters(sheet, 0, sheet.height()),
                           folder + name + ".png");
            WriteSheetTileset(folder + name + ".tsx", grid, count, Columns, folder + name + ".png", sheet.size());
        }
        // The last eighth of every set is used by no map.
        const int used = count - count / 8;
        for (int m = 0; m < maps; ++m) {
            QByteArray tmx = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                            "<map version=\"1.8\" orientation=\"orthogonal\" renderorder=\"right-down\" "
                                            "width=\"%1\" height=\"%1\" tilewidth=\"16\" tileheight=\"16\" infinite=\"0\">\n")
                                 .arg(cells)
                                 .toUtf8();
            for (int set = 0; set < 3; ++set) {
                tmx += QStringLiteral(" <tileset firstgid=\"%1\" source=\"set%2.tsx\"/>\n").arg(1 + set * count).arg(set + 1).toUtf8();
            }
            tmx += QStringLiteral(" <layer id=\"1\" name=\"ground\" width=\"%1\" height=\"%1\">\n  <data encoding=\"csv\">\n")
                       .arg(cells)
                       .toUtf8();
            for (int y = 0; y < cells; ++y) {
                for (int x = 0; x < cells; ++x) {
                    const std::uint32_t gid = 1 + static_cast<std::uint32_t>((random() % 3) * count + random() % used);
                    tmx += QByteArray::number(gid | (static_cast<std::uint32_t>(random() % 8) << 29));
                    tmx += x + 1 < cells || y + 1 < cells ? "," : "";
                }
                tmx += "\n";
            }
            tmx += "</data>\n </layer>\n</map>\n";
            WriteWholeFile(folder + QStringLiteral("map%1.tmx").arg(m + 1, 2, 10, QChar('0')), tmx.constData(),
                           static_cast<std::size_t>(tmx.size()));
        }
        return 0;
    } catch (const RuntimeError& failure) {
        std::fprintf(stderr, "bench_optimizemaps: %s\n", failure.Description().toLocal8Bit().constData());
        return 1;
    }
}
