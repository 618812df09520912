#include "sheets/sheetextruder.h"

#include "imaging/picture.h"
#include "runtime/limits.h"
#include "runtime/parallel.h"
#include "runtime/runtimeerror.h"
#include "sheets/tileformat.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {
// Fills count pixels of bpp bytes with the one pixel at from.
void repeatPixel(uchar* to, const uchar* from, int count, int bpp) {
    if (bpp == 1) {
        std::memset(to, *from, static_cast<std::size_t>(count));
        return;
    }
    std::uint32_t pixel;
    std::memcpy(&pixel, from, sizeof pixel);
    for (int i = 0; i < count; ++i) {
        std::memcpy(to + 4 * i, &pixel, sizeof pixel);
    }
}

// What the gaps are filled with: the pixel value in the sheet's own format.
std::uint32_t gapValue(const QImage& out) {
    if (out.format() == QImage::Format_Indexed8) {
        return static_cast<std::uint32_t>(TransparentIndex(out.colorTable()));
    }
    return out.format() == QImage::Format_RGB32 ? Picture::Background().rgb() : 0u;
}
}  // namespace

SheetExtruder::SheetExtruder(const TileGrid& grid, int extrusion) : grid_(grid), extrusion_(extrusion) {}

QSize SheetExtruder::ExtrudedSize(QSize sheet) const {
    const QSize cells = Cells(sheet);
    if (cells.isEmpty()) {
        return {};
    }
    const TileGrid grown(grid_.Tile() + QSize(2 * extrusion_, 2 * extrusion_), grid_.Margin(), grid_.Spacing());
    return grown.SheetSize(cells.width(), cells.height(), Limits::PictureSide);
}

TileGrid SheetExtruder::ExtrudedGrid() const {
    return TileGrid(grid_.Tile(), grid_.Margin() + extrusion_, grid_.Spacing() + 2 * extrusion_);
}

QImage SheetExtruder::Extrude(const QImage& sheet) const {
    const QSize cells = Cells(sheet.size());
    return ExtrudeRows(sheet, sheet.size(), 0, 0, cells.height());
}

int SheetExtruder::OutTop(QSize sheet, int row) const {
    const int pitch = grid_.Tile().height() + grid_.Spacing() + 2 * extrusion_;
    return row == 0 ? 0 : row >= Cells(sheet).height() ? ExtrudedSize(sheet).height() : grid_.Margin() + row * pitch;
}

QImage SheetExtruder::ExtrudeRows(const QImage& rows, QSize sheetSize, int rowsTop, int first, int last) const {
    const QSize size = ExtrudedSize(sheetSize);
    if (size.isEmpty()) {
        RaiseError(Err::InvalidCall);
    }
    const bool gaps = grid_.Margin() > 0 || grid_.Spacing() > 0;
    QImage in = rows;
    if (in.format() == QImage::Format_Indexed8) {
        // 256 visible colours leave no entry for the gaps.
        if (gaps && TransparentIndex(in.colorTable()) < 0 && in.colorTable().size() >= 256) {
            in = in.convertToFormat(QImage::Format_RGBA8888);
        }
    } else if (in.depth() != 32) {
        in = in.convertToFormat(QImage::Format_RGBA8888);
    }
    const int outTop = OutTop(sheetSize, first);
    QImage out(size.width(), OutTop(sheetSize, last) - outTop, in.format());
    if (out.isNull()) {
        RaiseError(Err::OutOfMemory);
    }
    if (in.format() == QImage::Format_Indexed8) {
        out.setColorTable(in.colorTable());
        EnsureTransparentEntry(out);
    }
    const int bpp = out.depth() / 8;
    if (gaps) {
        const std::uint32_t gap = gapValue(out);
        if (bpp == 1) {
            std::memset(out.bits(), static_cast<int>(gap), static_cast<std::size_t>(out.sizeInBytes()));
        } else {
            out.fill(gap);
        }
    }

    const int n = extrusion_;
    const QSize tile = grid_.Tile();
    const QSize cells = Cells(sheetSize);
    const std::size_t tileBytes = static_cast<std::size_t>(tile.width()) * bpp;
    const std::size_t grownBytes = tileBytes + 2 * static_cast<std::size_t>(n) * bpp;
    // Taken once: bits() on the shared image from several threads would race.
    uchar* const bits = out.bits();
    const qsizetype stride = out.bytesPerLine();
    const uchar* const source = in.constBits();
    const qsizetype sourceStride = in.bytesPerLine();
    // One row of tiles a job: the rows each writes are its own.
    ParallelFor(static_cast<std::size_t>(last - first), [&](std::size_t i) {
        const int r = first + static_cast<int>(i);
        const int top = grid_.Margin() + r * (tile.height() + grid_.Spacing() + 2 * n) - outTop;
        for (int c = 0; c < cells.width(); ++c) {
            const QRect cell = grid_.Cell(c, r);
            const int left = grid_.Margin() + c * (tile.width() + grid_.Spacing() + 2 * n);
            for (int y = 0; y < tile.height(); ++y) {
                const uchar* from = source + sourceStride * (cell.y() - rowsTop + y) + static_cast<qsizetype>(cell.x()) * bpp;
                uchar* to = bits + stride * (top + n + y) + static_cast<qsizetype>(left) * bpp;
                repeatPixel(to, from, n, bpp);
                std::memcpy(to + static_cast<qsizetype>(n) * bpp, from, tileBytes);
                repeatPixel(to + static_cast<qsizetype>(n) * bpp + tileBytes, from + tileBytes - bpp, n, bpp);
            }
            // The rows above and below repeat the tile's first and last grown row.
            const uchar* first = bits + stride * (top + n) + static_cast<qsizetype>(left) * bpp;
            const uchar* last = first + stride * (tile.height() - 1);
            for (int i = 0; i < n; ++i) {
                std::memcpy(bits + stride * (top + i) + static_cast<qsizetype>(left) * bpp, first, grownBytes);
                std::memcpy(bits + stride * (top + n + tile.height() + i) + static_cast<qsizetype>(left) * bpp, last,
                            grownBytes);
            }
        }
    });
    return out;
}
