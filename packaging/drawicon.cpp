// Draws the program's icon, four coloured tiles on a dark ground, as the hicolor theme wants
// it: a scalable SVG and PNGs at fixed sizes, every edge on a whole pixel. At 32 px it is the
// window's own icon, pixel for pixel.
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

namespace {

const QColor Ground(0x20, 0x30, 0x48);
// Top left, top right, bottom left, bottom right.
const QColor Tiles[4] = {QColor(0xe0, 0xa0, 0x30), QColor(0x40, 0xa0, 0x60), QColor(0x40, 0x70, 0xc0),
                         QColor(0xc0, 0x40, 0x40)};

// The design is 32 units square: a 2 unit margin and gap around two 13 unit tiles a side.
// At other sizes the gap is rounded to whole pixels (at least one), the tiles take what is
// left, and an odd pixel goes to the outer edge, so small icons stay sharp.
struct Layout {
    int gap;
    int tile;
};

Layout LayoutFor(int size) {
    const int gap = std::max(1, static_cast<int>(std::lround(size / 16.0)));
    return {gap, (size - 3 * gap) / 2};
}

QImage Draw(int size) {
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(Ground);
    const Layout l = LayoutFor(size);
    QPainter painter(&image);
    for (int i = 0; i < 4; ++i) {
        const int x = l.gap + (i % 2) * (l.tile + l.gap);
        const int y = l.gap + (i / 2) * (l.tile + l.gap);
        painter.fillRect(x, y, l.tile, l.tile, Tiles[i]);
    }
    return image;
}

QString Svg() {
    QString text;
    QTextStream out(&text);
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"32\" height=\"32\" viewBox=\"0 0 32 32\">\n"
        << "  <rect width=\"32\" height=\"32\" fill=\"" << Ground.name() << "\"/>\n";
    const Layout l = LayoutFor(32);
    for (int i = 0; i < 4; ++i) {
        out << "  <rect x=\"" << l.gap + (i % 2) * (l.tile + l.gap) << "\" y=\"" << l.gap + (i / 2) * (l.tile + l.gap)
            << "\" width=\"" << l.tile << "\" height=\"" << l.tile << "\" fill=\"" << Tiles[i].name() << "\"/>\n";
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
