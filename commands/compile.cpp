#include "commands/compile.h"

#include "commands/commandform.h"
#include "commands/extrude.h"

#include "conversion/converter.h"
#include "imaging/picture.h"
#include "imaging/picturesink.h"
#include "records/tileinfo.h"
#include "runtime/numbers.h"
#include "runtime/paths.h"
#include "runtime/limits.h"
#include "runtime/outputfiles.h"
#include "sheets/sheetbuilder.h"
#include "sheets/sheetextruder.h"
#include "sheets/tilefolder.h"
#include "tiled/tilesetfile.h"

#include <QFileInfo>

namespace {
// The width box as the window fills it at start; below 1 means 6, as for the window.
int startupColumns(const QString& width) {
    const double columns = ParseNumber(width);
    return columns >= 1 && columns <= Limits::PictureSide ? static_cast<int>(columns) : 6;
}

// SOURCE a folder with its info.ini, and, the window's way, the bitmap tiles it reads there.
void refuseOperands(const CompileRequest& request) {
    const QString& source = request.source;
    if (request.destination.isEmpty()) {
        throw Refused(NoDestination);
    }
    const QFileInfo folder(source);
    if (!folder.exists()) {
        throw Refused(QStringLiteral("no such folder (%1)").arg(NoSource), source);
    }
    if (!folder.isDir()) {
        throw Refused(QStringLiteral("is a file, not a folder of tiles (Source path should be a folder not an image.)"), source);
    }
    if (!QFileInfo(TileInfoFile(source)).isFile()) {
        throw Refused(QStringLiteral("holds no info.ini, the tile information file that split writes"), source);
    }
    // The window's way reads bitmaps only, and would fail on the first tile without saying why.
    const QString first = AsFolder(source) + request.startText;
    if (!request.options.tiled && !QFileInfo::exists(first + ".bmp") && QFileInfo::exists(first + ".png")) {
        throw Refused(QStringLiteral("holds PNG tiles (%1.png), not bitmaps; --format png reads them").arg(first), source);
    }
}

void compileTheWindowsWay(const CompileRequest& request, CompileResult& result) {
    OutputFiles::Folder(request.destination);
    CommandForm form(request.progress);
    Converter converter(form);
    RunTheWindowsWay(form, converter, false, {request.source, request.destination, request.startText, request.widthText}, result);
    if (!result.Ok()) {
        return;
    }
    result.sheet = AsFolder(form.Text(FormView::Box::spath)) + "Tiles.bmp";
    result.size = converter.SheetSize();
    result.read += request.source;
    result.written += result.sheet;
    result.Count(QStringLiteral("width"), result.size.width());
    result.Count(QStringLiteral("height"), result.size.height());
    result.Count(QStringLiteral("tiles"), converter.TilesDrawn());
    result.Count(QStringLiteral("columns"), result.size.width() / Converter::TileSide);
}

void compileByGrid(const CompileRequest& request, CompileResult& result) {
    const TileOptions& options = request.options;
    const std::int32_t end = RoundToLong(StrictNumber(ReadTileCount(request.source)));
    const std::int64_t count = std::int64_t{end} - options.start;
    if (count <= 0) {
        throw Refused(QStringLiteral("no tiles to compile: NumFiles is %1 and the start number %2").arg(end).arg(options.start));
    }
    const TileGrid& grid = options.grid;
    const int columns = options.autoWidth ? grid.SquarestColumns(count) : options.width.value_or(startupColumns(request.widthText));
    const SheetBuilder builder(grid, columns, count, options.format);
    // Extruded, the tileset reads the same tiles at a wider margin and spacing.
    const SheetExtruder extruder(grid, options.extrude);
    const QSize size = options.extrude > 0 ? extruder.ExtrudedSize(builder.SheetSize()) : builder.SheetSize();
    if (size.isEmpty()) {
        throw Refused(QStringLiteral("%1 tiles at %2 to a row (%3%4) make a sheet larger than %5 pixels a side")
                          .arg(count)
                          .arg(columns)
                          .arg(GridText(grid))
                          .arg(options.extrude > 0 ? QStringLiteral(", extruded by %1").arg(options.extrude) : QString())
                          .arg(Limits::PictureSide));
    }
    const TileFolder tiles(request.source, options.format);
    const auto tilePath = [&](std::int64_t k) { return tiles.Path(static_cast<std::int32_t>(options.start + k)); };
    const QString sheetPath =
        IsSheetName(request.destination) ? request.destination : AsFolder(request.destination) + "Tiles" + TileSuffix(options.format);
    OutputFiles outputs;
    const QString sheetFile = outputs.File(sheetPath);
    const QString tileset = outputs.File(options.tileset);
    const auto writeSheet = [&](const QString& path) {
        // The rows go out as they are drawn, unless the sheet is extruded or may be indexed.
        bool banded = false;
        if (options.extrude == 0) {
            PictureSink out(path, size, options.format);
            banded = builder.BuildBands(tilePath, [&](const QImage& band, int) { out.WriteRows(band); });
            if (banded) {
                out.Commit();
            }
        }
        if (!banded) {
            QImage sheet = builder.Build(tilePath);
            if (options.extrude > 0) {
                sheet = extruder.Extrude(sheet);
            }
            WriteTileImage(sheet, size.width(), size.height(), options.format, ChooseFilters(sheet, 0, sheet.height()), path);
        }
    };
    if (options.tileset.isEmpty()) {
        writeSheet(sheetFile);
    } else {
        OutputFiles::SheetAndTileset(sheetFile, tileset, writeSheet, [&](const QString& image) {
            WriteSheetTileset(tileset, options.extrude > 0 ? extruder.ExtrudedGrid() : grid, static_cast<int>(count), columns,
                              image == sheetFile ? sheetPath : image, size);
        });
    }
    result.sheet = sheetPath;
    result.size = size;
    result.tileCount = count;
    result.columns = columns;
    result.extrusion = options.extrude;
    result.extruded = extruder.ExtrudedGrid();
    result.read += request.source;
    result.written += sheetPath;
    if (!options.tileset.isEmpty()) {
        result.written += options.tileset;
    }
    result.Count(QStringLiteral("width"), size.width());
    result.Count(QStringLiteral("height"), size.height());
    result.Count(QStringLiteral("tiles"), count);
    result.Count(QStringLiteral("columns"), columns);
}
}  // namespace

bool IsSheetName(const QString& destination) {
    const QString suffix = QFileInfo(destination).suffix().toLower();
    return !EndsWithSeparator(destination) && (suffix == "png" || suffix == "bmp");
}

CompileResult RunCompile(const CompileRequest& request) {
    return RunCommand<CompileResult>(QStringLiteral("compile"), [&](CompileResult& result) {
        result.windowsWay = !request.options.tiled;
        refuseOperands(request);
        if (result.windowsWay) {
            compileTheWindowsWay(request, result);
        } else {
            compileByGrid(request, result);
        }
    });
}
