#include "tiles/sheetsplitter.h"

#include "imaging/parallel.h"
#include "imaging/rowfeed.h"
#include "runtime/helperthread.h"
#include "runtime/runtimeerror.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <thread>
#include <vector>

SheetSplitter::SheetSplitter(const QImage& sheet, const TileGrid& grid, bool keepEdges, TileFormat format)
    : sheet_(sheet), grid_(grid), format_(format) {
    const QSize whole = grid.WholeCells(sheet.size());
    const QSize covered = grid.CoveredCells(sheet.size());
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

    if (format == TileFormat::Bmp) {
        sheet_ = OpaqueRgb32(sheet);
    } else if (keepEdges && cells_ != whole && sheet_.format() == QImage::Format_Indexed8) {
        // Padding needs a transparent index; a full palette without one goes to RGBA.
        if (!EnsureTransparentEntry(sheet_)) {
            sheet_ = sheet_.convertToFormat(QImage::Format_RGBA8888);
        }
    }
    if (sheet_.isNull() && !sheet.isNull()) {
        RaiseError(Err::OutOfMemory);
    }
    padIndex_ = std::max(0, TransparentIndex(sheet_.colorTable()));
}

QRect SheetSplitter::inside(std::int64_t k) const {
    const int m = grid_.Margin();
    return grid_.Cell(static_cast<int>(k % cells_.width()), static_cast<int>(k / cells_.width())) &
           sheet_.rect().adjusted(m, m, -m, -m);
}

QImage SheetSplitter::Tile(std::int64_t k) const {
    const QRect cell = grid_.Cell(static_cast<int>(k % cells_.width()), static_cast<int>(k / cells_.width()));
    const QRect inside = this->inside(k);
    const int bpp = sheet_.depth() / 8;
    const uchar* first = sheet_.constScanLine(inside.y()) + static_cast<std::size_t>(inside.x()) * bpp;
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

void SheetSplitter::WriteTiles(const QString& folder, std::int32_t start,
                               const std::function<void(RowFeed&)>& decode) const {
    RowFeed feed;
    std::exception_ptr decodeFailure;
    std::vector<std::thread> decoder;
    auto decodeAll = [&] {
        try {
            decode(feed);
        } catch (...) {
            decodeFailure = std::current_exception();
            feed.Fail();
        }
    };
    // Without a thread to decode on, the picture is decoded whole first.
    if (decode && !StartHelper(decoder, decodeAll)) {
        decodeAll();
    }
    auto finishDecoding = [&] {
        for (std::thread& thread : decoder) {
            thread.join();
        }
        decoder.clear();
        if (decodeFailure) {
            std::rethrow_exception(decodeFailure);
        }
    };
    const QSize size = grid_.Tile();
    try {
        // The first row of tiles tells how all of them compress best.
        const QRect band = inside(0);
        if (decode) {
            feed.WaitFor(band.bottom() + 1);
        }
        const PngFilters filters = ChooseFilters(sheet_, band.top(), band.height());
        ParallelFor(static_cast<std::size_t>(TileCount()), [&](std::size_t k) {
            if (decode) {
                feed.WaitFor(inside(static_cast<std::int64_t>(k)).bottom() + 1);
            }
            const auto number = static_cast<std::int32_t>(start + static_cast<std::int64_t>(k));
            WriteTileImage(Tile(static_cast<std::int64_t>(k)), size.width(), size.height(), format_, filters,
                           folder + TileFileName(number, format_));
        });
    } catch (...) {
        finishDecoding();
        throw;
    }
    finishDecoding();
}
