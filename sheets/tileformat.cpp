#include "sheets/tileformat.h"

#include "imaging/bitmapfile.h"
#include "runtime/numbers.h"
#include "runtime/runtimeerror.h"
#include "runtime/wholefile.h"

QString TileSuffix(TileFormat format) { return format == TileFormat::Png ? QStringLiteral(".png") : QStringLiteral(".bmp"); }

QString TileFileName(std::int32_t number, TileFormat format) { return NumberText(number) + TileSuffix(format); }

QImage OpaqueRgb32(const QImage& image) {
    QImage out(image.size(), QImage::Format_RGB32);
    if (out.isNull() && !image.isNull()) {
        RaiseError(Err::OutOfMemory);
    }
    const QList<QRgb> palette = image.colorTable();
    for (int y = 0; y < image.height(); ++y) {
        const uchar* in = image.constScanLine(y);
        auto* px = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            px[x] = image.format() == QImage::Format_Indexed8
                        ? (palette[in[x]] | 0xff000000u)
                        : qRgb(in[4 * x], in[4 * x + 1], in[4 * x + 2]);
        }
    }
    return out;
}

int TransparentIndex(const QList<QRgb>& palette) {
    for (qsizetype i = 0; i < palette.size(); ++i) {
        if (qAlpha(palette[i]) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool EnsureTransparentEntry(QImage& indexed) {
    QList<QRgb> palette = indexed.colorTable();
    if (TransparentIndex(palette) >= 0) {
        return true;
    }
    if (palette.size() >= 256) {
        return false;
    }
    palette.append(qRgba(0, 0, 0, 0));
    indexed.setColorTable(palette);
    return true;
}

void WriteTileImage(const QImage& image, int width, int height, TileFormat format, PngFilters filters,
                    const QString& path) {
    if (format == TileFormat::Bmp) {
        SaveBitmapFile(image.format() == QImage::Format_RGB32 ? image : OpaqueRgb32(image), width, height, path);
        return;
    }
    const QByteArray png = EncodePng(image, filters);
    WriteWholeFile(path, png.constData(), static_cast<std::size_t>(png.size()));
}
