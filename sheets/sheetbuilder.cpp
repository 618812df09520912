#include "sheets/sheetbuilder.h"

#include "imaging/picture.h"
#include "imaging/picturefile.h"
#include "imaging/picturesink.h"
#include "runtime/limits.h"
#include "runtime/parallel.h"
#include "runtime/runtimeerror.h"
#include "sheets/tileformat.h"

#include <algorithm>
#include <cstring>

namespace {
// A tile whose palette differs from the sheet's: the sheet is made again in RGBA.
struct PaletteMismatch {};

QImage loadTile(const QString& path, QSize size) {
    QImage tile = AboutFile(path, [&] { return LoadPicture(path); });
    if (tile.size() != size) {
        throw RuntimeError(Err::InvalidPicture, QStringLiteral("is %1x%2 pixels, not %3x%4")
                                                    .arg(tile.width())
                                                    .arg(tile.height())
                                                    .arg(size.width())
                                                    .arg(size.height()),
                           path);
    }
    return tile;
}
}  // namespace

SheetBuilder::SheetBuilder(const TileGrid& grid, int columns, std::int64_t count, TileFormat format)
    : grid_(grid), columns_(columns), count_(count), format_(format) {}

QSize SheetBuilder::SheetSize() const {
    const std::int64_t rows = (count_ + columns_ - 1) / columns_;
    return rows > Limits::PictureSide ? QSize() : grid_.SheetSize(columns_, static_cast<int>(rows), Limits::PictureSide);
}

QImage SheetBuilder::Build(const std::function<QString(std::int64_t)>& path) const {
    return Draw([&](std::int64_t k) { return loadTile(path(k), grid_.Tile()); });
}

QImage SheetBuilder::Draw(const TileSource& source) const {
    const QImage first = source(0);
    if (format_ == TileFormat::Png && first.format() == QImage::Format_Indexed8) {
        try {
            return build(source, first, true);
        } catch (const PaletteMismatch&) {
        }
    }
    return build(source, first, false);
}

QImage SheetBuilder::build(const TileSource& source, const QImage& first, bool indexed) const {
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
    draw(source, first, sheet, 0, 0, count_);
    return sheet;
}

void SheetBuilder::draw(const TileSource& source, const QImage& first, QImage& band, int top,
                        std::int64_t from, std::int64_t to) const {
    if (band.isNull()) {
        RaiseError(Err::OutOfMemory);
    }
    const bool indexed = band.format() == QImage::Format_Indexed8;
    if (format_ == TileFormat::Bmp) {
        band.fill(Picture::Background());
    } else {
        std::memset(band.bits(), indexed ? TransparentIndex(band.colorTable()) : 0,
                    static_cast<std::size_t>(band.sizeInBytes()));
    }

    const QList<QRgb> palette = first.colorTable();
    const int bpp = band.depth() / 8;
    // Taken once: scanLine() on the shared band from several threads would race.
    uchar* const bits = band.bits();
    const qsizetype stride = band.bytesPerLine();
    ParallelFor(static_cast<std::size_t>(to - from), [&](std::size_t i) {
        const std::int64_t k = from + static_cast<std::int64_t>(i);
        QImage tile = k == 0 ? first : source(k);
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
            std::memcpy(bits + stride * (cell.y() - top + y) + static_cast<qsizetype>(cell.x()) * bpp,
                        tile.constScanLine(y), static_cast<std::size_t>(cell.width()) * bpp);
        }
    });
}

bool SheetBuilder::BuildBands(const std::function<QString(std::int64_t)>& path,
                              const std::function<void(const QImage& band, int top)>& put) const {
    const QSize size = SheetSize();
    const TileSource load = [&](std::int64_t k) { return loadTile(path(k), grid_.Tile()); };
    const QImage first = load(0);
    if (format_ == TileFormat::Png && first.format() == QImage::Format_Indexed8) {
        return false;
    }
    ExpectParallelWork(static_cast<std::size_t>(count_));
    const std::int64_t rows = (count_ + columns_ - 1) / columns_;
    const int unit = grid_.Tile().height() + grid_.Spacing();
    const std::int64_t bandRows = std::min<std::int64_t>(BandRows(std::int64_t{4} * size.width(), unit, BandFill::TilesOnEveryCore) / unit, rows);
    // A band holds its tile rows and the spacing below them; the first the top margin, the
    // last the bottom one.
    for (std::int64_t row = 0; row < rows; row += bandRows) {
        const int top = row == 0 ? 0 : grid_.Cell(0, static_cast<int>(row)).y();
        const std::int64_t end = row + bandRows;
        const int bottom = end >= rows ? size.height() : grid_.Cell(0, static_cast<int>(end)).y();
        QImage band(size.width(), bottom - top, format_ == TileFormat::Bmp ? QImage::Format_RGB32 : QImage::Format_RGBA8888);
        draw(load, first, band, top, row * columns_, std::min(count_, end * columns_));
        put(band, top);
    }
    return true;
}
