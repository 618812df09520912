#include "extrudecommand.h"

#include "batchio.h"
#include "commandreport.h"

#include "imaging/picture.h"
#include "imaging/picturefile.h"
#include "imaging/pngwriter.h"
#include "imaging/sheetbands.h"
#include "runtime/atomicfile.h"
#include "runtime/parallel.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"
#include "sheets/sheetextruder.h"
#include "tiled/tileddocument.h"
#include "sheets/tileformat.h"
#include "sheets/sheetwriter.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <memory>
#include <optional>

namespace {
QString sizeText(QSize size) { return QStringLiteral("%1x%2").arg(size.width()).arg(size.height()); }

// The format of a picture file by its name: only the two the tool writes.
std::optional<TileFormat> formatOf(const QString& path) {
    if (path.endsWith(".png", Qt::CaseInsensitive)) {
        return TileFormat::Png;
    }
    if (path.endsWith(".bmp", Qt::CaseInsensitive)) {
        return TileFormat::Bmp;
    }
    return std::nullopt;
}

// Runs step, with a failure named after the file it concerns.
template <typename Step>
auto onFile(const QString& path, Step step) {
    try {
        return step();
    } catch (const RuntimeError& e) {
        throw RuntimeError(e.Number(), e.Description().startsWith(path) ? e.Description() : path + ": " + e.Description());
    }
}

struct Written {
    QSize size;
    QSize cells;
    bool partial = false;
};

// The extruded sheet of the picture at source written to out, in the format. Returns the
// exit status.
int writeExtruded(const QString& source, const QString& out, TileFormat format, const SheetExtruder& extruder,
                  const TileGrid& grid, Written& written) {
    auto bands = onFile(source, [&] { return std::make_unique<SheetBands>(source); });
    const QSize sheetSize = bands->Size();
    written = {extruder.ExtrudedSize(sheetSize), extruder.Cells(sheetSize),
               grid.CoveredCells(sheetSize) != grid.WholeCells(sheetSize)};
    if (written.cells.isEmpty()) {
        return RefuseRun(QStringLiteral("%1: the grid (tile %2, margin %3, spacing %4) is larger than the %5 sheet")
                             .arg(source, sizeText(grid.Tile()))
                             .arg(grid.Margin())
                             .arg(grid.Spacing())
                             .arg(sizeText(sheetSize)));
    }
    if (written.size.isEmpty()) {
        return RefuseRun(QStringLiteral("%1: extruded, the sheet would pass %2 pixels a side").arg(source).arg(Picture::MaxSide));
    }
    RemoveLeftovers(ToFsPath(QFileInfo(out).absolutePath()));
    if (format == TileFormat::Png && !bands->Whole()) {
        // A sheet read a band at a time is extruded and written a band of tile rows at a time.
        SheetWriter writer(out, written.size, format);
        const int rows = written.cells.height();
        const int perBand = std::max(1, (8 << 20) / std::max(1, 4 * written.size.width() * grid.Tile().height()));
        const auto firstRow = [&](int band) { return band * perBand; };
        const auto lastRow = [&](int band) { return std::min(rows, (band + 1) * perBand); };
        ReadAhead(
            (rows + perBand - 1) / perBand,
            [&](int band) {
                const int top = grid.Cell(0, firstRow(band)).y();
                return onFile(source, [&] { return bands->Rows(top, grid.Cell(0, lastRow(band) - 1).bottom() + 1 - top); });
            },
            [&](int band, const QImage& rowsRead) {
                const int first = firstRow(band);
                writer.WriteRows(extruder.ExtrudeRows(rowsRead, sheetSize, grid.Cell(0, first).y(), first, lastRow(band)),
                                 extruder.OutTop(sheetSize, first));
            });
        writer.Commit();
        return ExitOk;
    }
    // A view into the picture the bands hold, where they hold it whole.
    QImage sheet = bands->Whole() ? bands->Rows(0, sheetSize.height()) : onFile(source, [&] { return LoadPicture(source); });
    if (format == TileFormat::Bmp) {
        // Gaps in the background colour, as in every bitmap the tool writes.
        sheet = OpaqueRgb32(sheet);
    }
    const QImage extruded = extruder.Extrude(sheet);
    sheet = QImage();
    onFile(out, [&] {
        WriteTileImage(extruded, extruded.width(), extruded.height(), format, ChooseFilters(extruded, 0, extruded.height()),
                       out);
    });
    return ExitOk;
}

QString tilesText(const Written& written) {
    return QStringLiteral("%1 tiles (%2)%3")
        .arg(std::int64_t{written.cells.width()} * written.cells.height())
        .arg(sizeText(written.cells),
             written.partial ? QStringLiteral(", the partial tiles at the right and bottom edges dropped") : QString());
}

// The tileset's sheet extruded beside out, and out the same tileset reading it.
int runTileset(const Request& request, const TileOptions& options) {
    const QString& source = request.operands[0];
    const QString& out = request.operands[1];
    if (!out.endsWith(".tsx", Qt::CaseInsensitive)) {
        return RefuseRun(QStringLiteral("%1: a tileset is extruded into a tileset, a file name ending in .tsx").arg(out));
    }
    for (const char* grid : {"--tile", "--margin", "--spacing"}) {
        if (request.Has(grid)) {
            return RefuseRun(QStringLiteral("extrude of a tileset takes its grid from the tileset, not %1").arg(grid));
        }
    }
    try {
        TilesetDocument document(source);
        const TiledTileset& tileset = document.Model();
        if (tileset.IsCollection()) {
            return RefuseRun(QStringLiteral("%1: an image-collection tileset (a picture for each tile) has no sheet to "
                                            "extrude; extrude the pictures' sheet and its tileset instead")
                                 .arg(source));
        }
        const int n = options.extrude;
        if (tileset.margin + n > TileGrid::MaxSide || tileset.spacing + 2 * n > TileGrid::MaxSide) {
            return RefuseRun(QStringLiteral("%1: extruded by %2, its margin %3 and spacing %4 would pass %5")
                                 .arg(source)
                                 .arg(n)
                                 .arg(tileset.margin + n)
                                 .arg(tileset.spacing + 2 * n)
                                 .arg(TileGrid::MaxSide));
        }
        const QFileInfo outInfo(out);
        const QString sheet = outInfo.absoluteDir().filePath(outInfo.completeBaseName() + ".png");
        const QFileInfo sheetInfo(sheet);
        if (sheetInfo.exists() && sheetInfo.canonicalFilePath() == QFileInfo(tileset.image.source).canonicalFilePath()) {
            return RefuseRun(QStringLiteral("%1: the extruded sheet %2 would replace the tileset's own image; give OUT another "
                                            "name")
                                 .arg(out, sheet));
        }
        const TileGrid grid(tileset.tile, tileset.margin, tileset.spacing);
        const SheetExtruder extruder(grid, n);
        Written written;
        if (const int status = writeExtruded(tileset.image.source, sheet, TileFormat::Png, extruder, grid, written);
            status != ExitOk) {
            return status;
        }
        const TileGrid extruded = extruder.ExtrudedGrid();
        document.SetNumber("margin", extruded.Margin());
        document.SetNumber("spacing", extruded.Spacing());
        document.SetImage(sheet, written.size);
        onFile(out, [&] { document.Save(out); });
        if (!request.quiet) {
            PrintOut(QStringLiteral("%1 and %2 written, %3 by %4 pixels, %5; %6\n")
                         .arg(out, sheet)
                         .arg(written.size.width())
                         .arg(written.size.height())
                         .arg(tilesText(written), ExtrusionSummary(n, extruded)));
        }
        return ExitOk;
    } catch (const RuntimeError& failure) {
        return FailRun(failure, QStringLiteral("extrude"));
    }
}

int runSheet(const Request& request, const TileOptions& options) {
    const QString& source = request.operands[0];
    const QString& out = request.operands[1];
    const std::optional<TileFormat> format = formatOf(out);
    if (!format) {
        return RefuseRun(QStringLiteral("%1: the extruded sheet is written as .png or .bmp").arg(out));
    }
    if (!request.Has("--tile")) {
        return RefuseRun(QStringLiteral("extrude of a sheet needs its --tile WxH"));
    }
    if (QFileInfo(source).canonicalFilePath() == QFileInfo(out).canonicalFilePath()) {
        return RefuseRun(QStringLiteral("%1: the extruded sheet would replace its own source").arg(out));
    }
    try {
        const SheetExtruder extruder(options.grid, options.extrude);
        Written written;
        if (const int status = writeExtruded(source, out, *format, extruder, options.grid, written); status != ExitOk) {
            return status;
        }
        if (!request.quiet) {
            PrintOut(QStringLiteral("%1 written, %2 by %3 pixels, %4; %5\n")
                         .arg(out)
                         .arg(written.size.width())
                         .arg(written.size.height())
                         .arg(tilesText(written), ExtrusionSummary(options.extrude, extruder.ExtrudedGrid())));
        }
        return ExitOk;
    } catch (const RuntimeError& failure) {
        return FailRun(failure, QStringLiteral("extrude"));
    }
}
}  // namespace

QString ExtrusionSummary(int extrusion, const TileGrid& extruded) {
    return QStringLiteral("extruded by %1: tileset margin %2, spacing %3")
        .arg(extrusion)
        .arg(extruded.Margin())
        .arg(extruded.Spacing());
}

int RunExtrude(const Request& request, const TileOptions& options) {
    if (request.operands[1].isEmpty()) {
        return RefuseRun(NoDestination);
    }
    if (!QFileInfo(request.operands[0]).isFile()) {
        return RefuseRun(NoSource);
    }
    return request.operands[0].endsWith(".tsx", Qt::CaseInsensitive) ? runTileset(request, options)
                                                                       : runSheet(request, options);
}
