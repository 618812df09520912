// Draws the program's icon, a sheet of tiles with one tile being cut out of it, as the
// hicolor theme wants it: a scalable SVG and PNGs at fixed sizes, every edge on a whole
// pixel. At 32 px it is the window's own icon, pixel for pixel.
//
//   drawicon OUTPUT_FOLDER SIZE...   writes OUTPUT_FOLDER/SIZE.png for each size and icon.svg

#include <QColor>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const QColor Ground(0x20, 0x30, 0x48);
const QColor Hole(0x10, 0x18, 0x24);
const QColor Edge(0xf0, 0xf0, 0xe8);
// The sheet's cells row by row, as a game's terrain sheet looks: grass, dirt, water, stone, sand.
const QColor Cells[8] = {QColor(0x5a, 0x9e, 0x48), QColor(0xa8, 0x74, 0x3c), QColor(0x3c, 0x78, 0xc0),
                         QColor(0x8c, 0x8c, 0x94), QColor(0xd8, 0xc0, 0x78), QColor(0x5a, 0x9e, 0x48),
                         QColor(0x3c, 0x78, 0xc0), QColor(0xa8, 0x74, 0x3c)};
const QColor Cut(0xe0, 0xa0, 0x30);

// A rectangle of the 32 unit design: left, top, right, bottom.
struct Box {
    int x0, y0, x1, y1;
    QColor colour;
};

// The design: a 3 by 3 sheet of 7 unit cells, 1 apart, from (3, 3); its last cell is a hole,
// and the tile cut from it lies 3 units down and right, edged in white.
std::vector<Box> Design() {
    std::vector<Box> boxes;
    for (int i = 0; i < 8; ++i) {
        const int x = 3 + (i % 3) * 8;
        const int y = 3 + (i / 3) * 8;
        boxes.push_back({x, y, x + 7, y + 7, Cells[i]});
    }
    boxes.push_back({19, 19, 26, 26, Hole});
    boxes.push_back({21, 21, 31, 31, Edge});
    boxes.push_back({22, 22, 30, 30, Cut});
    return boxes;
}

// Units to pixels, rounded, so neighbouring boxes share their edges at every size.
int Pixel(int units, int size) { return static_cast<int>(std::lround(units * size / 32.0)); }

QImage Draw(int size) {
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(Ground);
    QPainter painter(&image);
    for (const Box& b : Design()) {
        const int x = Pixel(b.x0, size);
        const int y = Pixel(b.y0, size);
        painter.fillRect(x, y, std::max(1, Pixel(b.x1, size) - x), std::max(1, Pixel(b.y1, size) - y), b.colour);
    }
    return image;
}

QString Svg() {
    QString text;
    QTextStream out(&text);
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"32\" height=\"32\" viewBox=\"0 0 32 32\">\n"
        << "  <rect width=\"32\" height=\"32\" fill=\"" << Ground.name() << "\"/>\n";
    for (const Box& b : Design()) {
        out << "  <rect x=\"" << b.x0 << "\" y=\"" << b.y0 << "\" width=\"" << b.x1 - b.x0 << "\" height=\""
            << b.y1 - b.y0 << "\" fill=\"" << b.colour.name() << "\"/>\n";
    }
    out << "</svg>\n";
    return text;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: drawicon OUTPUT_FOLDER SIZE...\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 16 || !Draw(size).save(folder + QStringLiteral("/%1.png").arg(size))) {
            std::fprintf(stderr, "drawicon: cannot write the %s px icon\n", argv[i]);
            return 1;
        }
    }
    QFile svg(folder + QStringLiteral("/icon.svg"));
    if (!svg.open(QIODevice::WriteOnly) || svg.write(Svg().toUtf8()) < 0) {
        std::fprintf(stderr, "drawicon: cannot write icon.svg\n");
        return 1;
    }
    return 0;
}
