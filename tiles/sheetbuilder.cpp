#include "tiles/sheetbuilder.h"

#include "imaging/parallel.h"
#include "imaging/picture.h"
#include "imaging/picturefile.h"
#include "runtime/runtimeerror.h"

#include <cstring>

namespace {
// A tile whose palette differs from the sheet's: the sheet is made again in RGBA.
struct PaletteMismatch {};

QImage loadTile(const QString& path, QSize size) {
    try {
        QImage tile = LoadPicture(path);
        if (tile.size() != size) {
            throw RuntimeError(Err::InvalidPicture, QStringLiteral("is %1x%2 pixels, not %3x%4")
                                                        .arg(tile.width())
                                                        .arg(tile.height())
                                                        .arg(size.width())
                                                        .arg(size.height()));
        }
        return tile;
    } catch (const RuntimeError& e) {
        throw RuntimeError(e.Number(), path + ": " + e.Description());
    }
}
}  // namespace

SheetBuilder::SheetBuilder(const TileGrid& grid, int columns, std::int64_t count, TileFormat format)
    : grid_(grid), columns_(columns), count_(count), format_(format) {}

QSize SheetBuilder::SheetSize() const {
    const std::int64_t rows = (count_ + columns_ - 1) / columns_;
    return rows > Picture::MaxSide ? QSize() : grid_.SheetSize(columns_, static_cast<int>(rows), Picture::MaxSide);
}

QImage SheetBuilder::Build(const std::function<QString(std::int64_t)>& path) const {
    return Draw([&](std::int64_t k) { return loadTile(path(k), grid_.Tile()); });
}

QImage SheetBuilder::Draw(const std::function<QImage(std::int64_t)>& tile) const {
    const QImage first = tile(0);
    if (format_ == TileFormat::Png && first.format() == QImage::Format_Indexed8) {
        try {
            return build(tile, first, true);
        } catch (const PaletteMismatch&) {
        }
    }
    return build(tile, first, false);
}

QImage SheetBuilder::build(const std::function<QImage(std::int64_t)>& source, const QImage& first, bool indexed) const {
    const QSize size = SheetSize();
    QImage sheet;
    const bool gaps = grid_.Margin() > 0 || grid_.Spacing() > 0 || count_ % columns_ != 0;
    if (indexed) {
        sheet = QImage(size, QImage::Format_Indexed8);
        sheet.setColorTable(first.colorTable());
        if (gaps && !EnsureTransparentEntry(sheet)) {
            return build(source, first, false);
        }
    } else {
        sheet = QImage(size, format_ == TileFormat::Png ? QImage::Format_RGBA8888 : QImage::Format_RGB32);
    }
    if (sheet.isNull()) {
        RaiseError(Err::OutOfMemory);
    }
    if (format_ == TileFormat::Bmp) {
        sheet.fill(Picture::Background());
    } else {
        std::memset(sheet.bits(), indexed ? TransparentIndex(sheet.colorTable()) : 0,
                    static_cast<std::size_t>(sheet.sizeInBytes()));
    }

    const QList<QRgb> palette = first.colorTable();
    const int bpp = sheet.depth() / 8;
    // Taken once: scanLine() on the shared sheet from several threads would race.
    uchar* const bits = sheet.bits();
    const qsizetype stride = sheet.bytesPerLine();
    ParallelFor(static_cast<std::size_t>(count_), [&](std::size_t k) {
        QImage tile = k == 0 ? first : source(static_cast<std::int64_t>(k));
        if (indexed) {
            if (tile.format() != QImage::Format_Indexed8 || tile.colorTable() != palette) {
                throw PaletteMismatch();
            }
        } else if (format_ == TileFormat::Bmp) {
            tile = OpaqueRgb32(tile);
        } else if (tile.format() != QImage::Format_RGBA8888) {
            tile = tile.convertToFormat(QImage::Format_RGBA8888);
        }
        const QRect cell = grid_.Cell(static_cast<int>(k % columns_), static_cast<int>(k / columns_));
        for (int y = 0; y < cell.height(); ++y) {
            std::memcpy(bits + stride * (cell.y() + y) + static_cast<qsizetype>(cell.x()) * bpp, tile.constScanLine(y),
                        static_cast<std::size_t>(cell.width()) * bpp);
        }
    });
    return sheet;
}
