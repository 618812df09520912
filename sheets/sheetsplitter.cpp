#include "sheets/sheetsplitter.h"

#include "imaging/bitmapfile.h"
#include "imaging/picturefile.h"
#include "imaging/picturesink.h"
#include "imaging/sheetbands.h"
#include "runtime/parallel.h"
#include "runtime/runtimeerror.h"
#include "sheets/tileformat.h"

#include <algorithm>
#include <cstring>
#include <vector>

SheetSplitter::SheetSplitter(QSize sheet, const TileGrid& grid, bool keepEdges, TileFormat format)
    : size_(sheet), grid_(grid), format_(format), keepEdges_(keepEdges) {
    const QSize whole = grid.WholeCells(sheet);
    const QSize covered = grid.CoveredCells(sheet);
    cells_ = keepEdges ? covered : whole;
    // Along each side at most one partial cell follows the whole ones.
    const int farRight = sheet.width() - grid.Margin();
    const int farBottom = sheet.height() - grid.Margin();
    const std::int64_t partWidth = covered.width() > whole.width() ? farRight - grid.Cell(whole.width(), 0).x() : 0;
    const std::int64_t partHeight = covered.height() > whole.height() ? farBottom - grid.Cell(0, whole.height()).y() : 0;
    if (!keepEdges) {
        dropped_ = partWidth * whole.height() * grid.Tile().height() + partHeight * whole.width() * grid.Tile().width() +
                   partWidth * partHeight;
    }
}

SheetSplitter::SheetSplitter(const QImage& sheet, const TileGrid& grid, bool keepEdges, TileFormat format)
    : SheetSplitter(sheet.size(), grid, keepEdges, format) {
    take(sheet, 0);
}

void SheetSplitter::take(const QImage& band, int top) {
    top_ = top;
    sheet_ = band;
    if (format_ == TileFormat::Bmp) {
        // Bitmap rows go out as they came in.
        if (band.format() != QImage::Format_BGR888) {
            sheet_ = OpaqueRgb32(band);
        }
    } else {
        sheet_ = InTileFormat(band);
        if (keepEdges_ && cells_ != grid_.WholeCells(size_) && sheet_.format() == QImage::Format_Indexed8) {
            // Padding needs a transparent index; a full palette without one goes to RGBA.
            if (!EnsureTransparentEntry(sheet_)) {
                sheet_ = sheet_.convertToFormat(QImage::Format_RGBA8888);
            }
        }
    }
    if (sheet_.isNull() && !band.isNull()) {
        RaiseError(Err::OutOfMemory);
    }
    padIndex_ = std::max(0, TransparentIndex(sheet_.colorTable()));
}

QRect SheetSplitter::inside(std::int64_t k) const {
    const int m = grid_.Margin();
    return grid_.Cell(static_cast<int>(k % cells_.width()), static_cast<int>(k / cells_.width())) &
           QRect(QPoint(0, 0), size_).adjusted(m, m, -m, -m);
}

QImage SheetSplitter::Tile(std::int64_t k) const {
    const QRect cell = grid_.Cell(static_cast<int>(k % cells_.width()), static_cast<int>(k / cells_.width()));
    const QRect inside = this->inside(k);
    const int bpp = sheet_.depth() / 8;
    const uchar* first = sheet_.constScanLine(inside.y() - top_) + static_cast<std::size_t>(inside.x()) * bpp;
    QImage view(first, inside.width(), inside.height(), sheet_.bytesPerLine(), sheet_.format());
    view.setColorTable(sheet_.colorTable());
    // A bitmap pads while it is written; a PNG tile is padded here.
    if (inside == cell || format_ == TileFormat::Bmp) {
        return view;
    }
    QImage padded(cell.size(), sheet_.format());
    if (padded.isNull()) {
        RaiseError(Err::OutOfMemory);
    }
    padded.setColorTable(sheet_.colorTable());
    std::memset(padded.bits(), sheet_.format() == QImage::Format_Indexed8 ? padIndex_ : 0,
                static_cast<std::size_t>(padded.sizeInBytes()));
    for (int y = 0; y < inside.height(); ++y) {
        std::memcpy(padded.scanLine(y), view.constScanLine(y), static_cast<std::size_t>(inside.width()) * bpp);
    }
    return padded;
}

void SheetSplitter::WriteTiles(SheetBands& sheet, std::int32_t start, const FileWrite& write) const {
    if (TileCount() == 0) {
        return;
    }
    ExpectParallelWork(static_cast<std::size_t>(TileCount()));
    const QSize size = grid_.Tile();
    const int columns = cells_.width();
    const int unit = size.height() + grid_.Spacing();
    const int bandRows = std::min(BandRows(std::int64_t{4} * size_.width(), unit) / unit, cells_.height());
    // Sheet rows of the tile rows from row on, bandRows of them or to the last.
    auto readBand = [&](int row) {
        const int last = std::min(row + bandRows, cells_.height()) - 1;
        const int top = inside(std::int64_t{row} * columns).top();
        const int bottom = inside(std::int64_t{last} * columns).bottom();
        return sheet.Rows(top, bottom - top + 1);
    };
    SheetSplitter band(*this);
    PngFilters filters = PngFilters::None;
    ReadAhead(
        (cells_.height() + bandRows - 1) / bandRows, [&](int k) { return readBand(k * bandRows); },
        [&](int k, QImage& rows) {
            const int row = k * bandRows;
            band.take(rows, inside(std::int64_t{row} * columns).top());
            rows = QImage();
            if (row == 0) {
                // The first row of tiles tells how all of them compress best.
                const QRect first = inside(0);
                filters = ChooseFilters(band.sheet_, first.top() - band.top_, first.height());
            }
            const std::int64_t first = std::int64_t{row} * columns;
            const std::int64_t end = std::min<std::int64_t>(TileCount(), std::int64_t{row + bandRows} * columns);
            ParallelFor(static_cast<std::size_t>(end - first), [&](std::size_t i) {
                const std::int64_t k = first + static_cast<std::int64_t>(i);
                const std::string name = TileFileName(static_cast<std::int32_t>(start + k), format_).toStdString();
                const QImage tile = band.Tile(k);
                if (format_ == TileFormat::Bmp) {
                    thread_local std::vector<unsigned char> bytes;
                    EncodeBitmapFile(tile, size.width(), size.height(), bytes);
                    write(name, bytes.data(), bytes.size());
                } else {
                    const QByteArray png = EncodePng(tile, filters);
                    write(name, png.constData(), static_cast<std::size_t>(png.size()));
                }
            });
        });
}
