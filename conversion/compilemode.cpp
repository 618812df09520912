#include "conversion/converter.h"

#include "surfaces/directdraw.h"
#include "runtime/parallel.h"
#include "imaging/picture.h"
#include "imaging/picturesink.h"
#include "runtime/atomicfile.h"
#include "runtime/destination.h"
#include "runtime/numbers.h"
#include "runtime/parallel.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"
#include "surfaces/directdraw.h"
#include "surfaces/formview.h"
#include "surfaces/modrecs.h"
#include "surfaces/surfacetable.h"

#include <cfloat>
#include <cmath>
#include <algorithm>
#include <limits>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace {
constexpr std::int32_t DivisionByZero = 11;
constexpr std::int32_t ObjectNotSet = 91;

// A number text read afresh for every cell; converting the same text again gives the same
// number, so the last conversion is kept while the text stays the same.
class CellNumber {
public:
    explicit CellNumber(double (*convert)(const QString&)) : convert_(convert) {}
    double Of(const QString& text) {
        if (!known_ || text != text_) {
            value_ = convert_(text);
            text_ = text;
            known_ = true;
        }
        return value_;
    }

private:
    double (*convert_)(const QString&);
    QString text_;
    double value_ = 0;
    bool known_ = false;
};

// count / width * 34 + 128, as a single-precision real, failing as the real arithmetic does.
float sheetHeight(double count, double width) {
    if (width == 0) {
        if (count == 0) {
            RaiseError(Err::Overflow);
        }
        throw RuntimeError(DivisionByZero, QStringLiteral("Division by zero"));
    }
    const double height = count / width * 34 + 128;
    if (!std::isfinite(height) || std::fabs(height) > FLT_MAX) {
        RaiseError(Err::Overflow);
    }
    return static_cast<float>(height);
}
}  // namespace

bool Converter::CompileMode(QString source, QString destination) {
    using namespace modRecs;
    using Box = FormView::Box;

    if (!DX) {
        DX = std::make_unique<DirectX7>();
    }
    DD = DX->DirectDrawCreate(QString());
    form_.SetOuterHeight(5625);
    Picture& back = form_.Image(FormView::Pic::picBack);
    // The canvas stands for its window handle; the level has no visible effect.
    DD->SetCooperativeLevel(reinterpret_cast<std::uintptr_t>(&back), DDSCL_NORMAL);
    if (!InitSurfaces(form_, source)) {
        // The message was the whole outcome: nothing is drawn, saved or logged, and the
        // window shrinks back as after any run.
        return true;
    }

    // The sheet is as wide as the row InitSurfaces settled; only a width box below 1 makes
    // that differ from the width the convert command gave it.
    back.SetWidth(StrictNumber(form_.TileWidth) * TileSide);
    const float height = sheetHeight(StrictNumber(form_.NumTileSurfs), StrictNumber(form_.TileWidth));
    const int sheetRows = Picture::Side(height);
    // Unseen, the sheet is drawn into the canvas a band of tile rows at a time, each written
    // where the file holds it once drawn.
    const bool banded = !form_.ShowsPictures() && back.Width() > 0 && sheetRows > 0;
    const int bandRows = banded ? BandRows(std::int64_t{back.Width()} * 3, TileSide) : sheetRows;
    if (!banded) {
        back.SetHeight(height);
    }
    sheetSize_ = QSize(back.Width(), sheetRows);
    tilesDrawn_ = 0;
    std::int64_t lastDrawn = std::numeric_limits<std::int64_t>::min();
    rTileSrc = RECT{0, 0, TileSide, TileSide};

    const QString separator = EndsWithSeparator(destination) ? QString() : PathSeparator();
    const QString sheetFile = destination + separator + QStringLiteral("Tiles.bmp");
    // Two bands take turns: one is written while the next is drawn.
    Picture spare;
    Picture* band = &back;
    std::optional<PictureSink> out;
    if (banded) {
        SinkOptions options;
        options.background = true;
        options.leftoversIn = destination;
        // A linked sheet is written at its target, so the link stays.
        out.emplace(LinkTarget(sheetFile), QSize(back.Width(), sheetRows), TileFormat::Bmp, options);
    }
    int bandTop = 0;
    auto startBand = [&](int top) {
        bandTop = top;
        if (banded) {
            band->SetSize(back.Width(), std::clamp(sheetRows - top, 0, bandRows));
        }
        // A cell that gets no tile shows the background, never an earlier run's tile.
        band->Clear();
    };
    auto writeBand = [&] {
        if (banded) {
            out->WriteRows(band->Image());
            band = band == &back ? &spare : &back;
        }
    };
    startBand(0);

    CellNumber start(&ParseNumber);
    CellNumber width(&StrictNumber);
    CellNumber count(&StrictNumber);
    // The canvas is at most Limits::PictureSide pixels each way, so neither loop nor any cell
    // edge can leave 32 bits.
    const std::int32_t rows = sheetRows / TileSide;
    auto cellTile = [&](std::int32_t row, std::int32_t column) {
        return RoundToLong(start.Of(form_.Text(Box::txtStart)) + width.Of(form_.TileWidth) * row + column);
    };
    // With a core to spare (the batch program), the tiles of the next row are read meanwhile.
    const bool readAhead = WorkerCount() > 1;
    auto readRowAhead = [&](std::int32_t row) {
        std::vector<std::int32_t> tiles;
        const std::int32_t columns = RoundToLong(back.Width()) / 32;
        for (std::int32_t column = 0; column <= columns; ++column) {
            const std::int32_t tile = cellTile(row, column);
            if (count.Of(form_.NumTileSurfs) > tile && (tiles.empty() || tiles.back() != tile)) {
                tiles.push_back(tile);
            }
        }
        ReadTileSurfacesAhead(tiles, source);
    };
    if (readAhead) {
        readRowAhead(0);
    }
    for (std::int32_t row = 0; row <= rows; ++row) {
        form_.Progress(row, rows + 1LL);
        if (readAhead && row < rows) {
            readRowAhead(row + 1);
        }
        if (banded && TileSide * row >= bandTop + bandRows) {
            writeBand();
            startBand(TileSide * row);
        }
        const std::int32_t columns = RoundToLong(back.Width()) / 32;
        for (std::int32_t column = 0; column <= columns; ++column) {
            const std::int32_t tile = cellTile(row, column);
            rTileDest = RECT{TileSide * column, TileSide * row, TileSide * (column + 1), TileSide * (row + 1)};
            if (count.Of(form_.NumTileSurfs) > tile) {
                ReadyTileSurface(form_, tile, source);
                const DirectDrawSurface7* surface = TileSurf.At(tile);
                if (surface == nullptr) {
                    throw RuntimeError(ObjectNotSet, QStringLiteral("Object variable or With block variable not set"));
                }
                surface->BltToDC(*band, rTileSrc, RECT{rTileDest.Left, rTileDest.Top - bandTop, rTileDest.Right, rTileDest.Bottom - bandTop});
                // Cells go up by tile number, so a repeat is never above the last one counted.
                if (tile > lastDrawn) {
                    lastDrawn = tile;
                    ++tilesDrawn_;
                }
            }
        }
        // No later cell shows a tile below the first of the next row (the texts cannot change
        // during the run and a row is at least one tile wide), so those tiles are done with:
        // a sheet of thousands then holds about a row of them in memory, not all.
        TileSurf.ReleaseBelow(start.Of(form_.Text(Box::txtStart)) + width.Of(form_.TileWidth) * (row + 1) - 0.5);
    }
    writeBand();

    form_.Repaint(FormView::Pic::picBack);
    if (out) {
        out->Commit();
        return true;
    }
    RemoveLeftovers(ToFsPath(destination));
    // A linked sheet is written at its target, so the link stays.
    back.SaveBitmap(LinkTarget(sheetFile));
    return true;
}
