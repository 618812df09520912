#include "support/bitmapwriter.h"

#include "support/testsupport.h"

#include <QtEndian>

namespace {

void Put16(QByteArray& b, int at, quint16 v) { qToLittleEndian(v, b.data() + at); }
void Put32(QByteArray& b, int at, quint32 v) { qToLittleEndian(v, b.data() + at); }

QList<QRgb> Palette(int count) {
    QList<QRgb> colours;
    for (int i = 0; i < count; ++i) {
        colours.append(qRgb((i * 37 + 11) % 256, (i * 91 + 7) % 256, (i * 151 + 3) % 256));
    }
    return colours;
}

QByteArray Rle8Row(const uchar* indexes, int width) {
    QByteArray out;
    for (int x = 0; x < width;) {
        int run = 1;
        while (x + run < width && run < 255 && indexes[x + run] == indexes[x]) {
            ++run;
        }
        out.append(static_cast<char>(run));
        out.append(static_cast<char>(indexes[x]));
        x += run;
    }
    out.append('\0');
    out.append('\0');  // end of line
    return out;
}

}  // namespace

QImage PatternImage(int width, int height, const BitmapLayout& layout) {
    if (layout.bitCount <= 8) {
        const int count = 1 << layout.bitCount;
        QImage image(width, height, QImage::Format_Indexed8);
        image.setColorTable(Palette(count));
        for (int y = 0; y < height; ++y) {
            uchar* line = image.scanLine(y);
            for (int x = 0; x < width; ++x) {
                // Runs of five for the run-length layout, a busy pattern otherwise.
                line[x] = static_cast<uchar>(layout.rle8 ? (x / 5 + y) % count : (x * 3 + y * 5 + x * y) % count);
            }
        }
        return image;
    }
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            if (layout.bitCount == 16) {
                // Five bits a channel, widened to the full 0 to 255 range.
                auto widen = [](int v) { return (v * 255 + 15) / 31; };
                line[x] = qRgb(widen(x % 32), widen(y % 32), widen((x + 2 * y) % 32));
            } else {
                line[x] = qRgb(x % 256, y % 256, (x * 7 + y * 13) % 256);
            }
        }
    }
    return image;
}

QByteArray EncodeBitmap(const QImage& image, const BitmapLayout& layout) {
    const int width = image.width();
    const int height = image.height();
    const int bits = layout.rle8 ? 8 : layout.bitCount;
    const int paletteCount = bits <= 8 ? (1 << bits) : 0;
    const int rowBytes = (width * bits + 31) / 32 * 4;

    QByteArray pixels;
    for (int stored = 0; stored < height; ++stored) {
        const int y = layout.topDown ? stored : height - 1 - stored;
        if (layout.rle8) {
            pixels += Rle8Row(image.constScanLine(y), width);
            continue;
        }
        QByteArray row(rowBytes, '\0');
        for (int x = 0; x < width; ++x) {
            if (bits <= 8) {
                const int index = image.constScanLine(y)[x];
                const int bitPos = x * bits;
                const int shift = 8 - bits - bitPos % 8;
                row[bitPos / 8] = static_cast<char>(static_cast<uchar>(row[bitPos / 8]) | (index << shift));
            } else {
                const QRgb px = reinterpret_cast<const QRgb*>(image.constScanLine(y))[x];
                if (bits == 16) {
                    auto narrow = [](int v) { return (v * 31 + 127) / 255; };
                    const quint16 v = static_cast<quint16>(narrow(qRed(px)) << 10 | narrow(qGreen(px)) << 5 | narrow(qBlue(px)));
                    Put16(row, 2 * x, v);
                } else {
                    const int at = x * (bits / 8);
                    row[at] = static_cast<char>(qBlue(px));
                    row[at + 1] = static_cast<char>(qGreen(px));
                    row[at + 2] = static_cast<char>(qRed(px));
                }
            }
        }
        pixels += row;
    }
    if (layout.rle8) {
        pixels.append('\0');
        pixels.append('\1');  // end of bitmap
    }

    const int offset = 14 + 40 + 4 * paletteCount;
    QByteArray file(offset, '\0');
    file[0] = 'B';
    file[1] = 'M';
    Put32(file, 2, static_cast<quint32>(offset + pixels.size()));
    Put32(file, 10, static_cast<quint32>(offset));
    Put32(file, 14, 40);
    Put32(file, 18, static_cast<quint32>(width));
    Put32(file, 22, static_cast<quint32>(layout.topDown ? -height : height));
    Put16(file, 26, 1);
    Put16(file, 28, static_cast<quint16>(bits));
    Put32(file, 30, layout.rle8 ? 1 : 0);
    Put32(file, 34, static_cast<quint32>(pixels.size()));
    Put32(file, 46, static_cast<quint32>(paletteCount));
    const QList<QRgb> palette = image.colorTable();
    for (int i = 0; i < paletteCount && i < palette.size(); ++i) {
        Put32(file, 54 + 4 * i, palette[i] & 0xFFFFFF);
    }
    return file + pixels;
}

QImage AsRgb32(const QImage& image) { return image.convertToFormat(QImage::Format_RGB32); }

QImage WritePatternBitmap(const QString& path, int width, int height, const BitmapLayout& layout) {
    const QImage pattern = PatternImage(width, height, layout);
    WriteBytes(path, EncodeBitmap(pattern, layout));
    return AsRgb32(pattern);
}
