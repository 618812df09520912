#include "tilecommands.h"

#include "batchio.h"
#include "commandreport.h"
#include "extrudecommand.h"
#include "mapcommands.h"

#include "imaging/picture.h"
#include "imaging/pngwriter.h"
#include "imaging/sheetbands.h"
#include "records/errorlog.h"
#include "records/tileinfo.h"
#include "runtime/atomicfile.h"
#include "runtime/destination.h"
#include "runtime/limits.h"
#include "runtime/numbers.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"
#include "runtime/stagingfolder.h"
#include "sheets/sheetbuilder.h"
#include "sheets/sheetwriter.h"
#include "sheets/sheetextruder.h"
#include "sheets/sheetsplitter.h"
#include "sheets/tilefolder.h"
#include "tiled/tilesetfile.h"

#include <QFileInfo>



namespace {
QString gridText(const TileGrid& grid) {
    return QStringLiteral("tile %1x%2, margin %3, spacing %4")
        .arg(grid.Tile().width())
        .arg(grid.Tile().height())
        .arg(grid.Margin())
        .arg(grid.Spacing());
}

// The width box as the window fills it at start; below 1 means 6, as for the window.
int startupColumns() {
    const double width = ParseNumber(StartupWidth());
    return width >= 1 && width <= Limits::PictureSide ? static_cast<int>(width) : 6;
}

// Where a file the command edits in place is written, checked before any file of the run is
// written; its folder loses what killed runs left there. "" stays "".
QString editedFile(const QString& path) {
    if (path.isEmpty()) {
        return path;
    }
    const QString target = LinkTarget(path);
    RefuseSpecialFile(target);
    RemoveLeftovers(ToFsPath(QFileInfo(target).absolutePath()));
    return target;
}
}  // namespace

int RunTileSplit(const Request& request, const TileOptions& options) {
    if (options.unique) {
        return RunUniqueSplit(request, options);
    }
    const QString& source = request.operands[0];
    if (const auto refused = RefuseSplitOperands(request)) {
        return *refused;
    }
    const QString folder = AsFolder(request.operands[1]);
    try {
        SheetBands sheet(source);
        const SheetSplitter splitter(sheet.Size(), options.grid, options.keepEdges, options.format);
        if (splitter.TileCount() == 0) {
            return RefuseRun(QStringLiteral("the grid (%1) is larger than the %2x%3 sheet")
                              .arg(gridText(options.grid))
                              .arg(sheet.Size().width())
                              .arg(sheet.Size().height()));
        }
        const std::int64_t next = std::int64_t{options.start} + splitter.TileCount();
        if (next > Limits::TileNumber) {
            return RefuseRun(QStringLiteral("--start %1: %2 tiles would pass tile number %3")
                              .arg(options.start)
                              .arg(splitter.TileCount()).arg(Limits::TileNumber));
        }
        const QFileInfo destination(request.operands[1]);
        RemoveLeftovers(ToFsPath(destination.exists() ? folder : destination.path()));
        if (destination.isDir()) {
            RefuseSourceAmongTiles(source, folder, options.start, splitter.TileCount(), TileSuffix(options.format));
        }
        const QString tileset = editedFile(options.tileset);
        RefuseInputsAsDestinations({tileset}, {source});
        // The tiles stay out of sight until the whole sheet has been read and cut: a picture
        // that proves broken part way replaces no earlier tile.
        StagingFolder staged(request.operands[1]);
        splitter.WriteTiles(sheet, options.start, [&](const std::string& name, const void* data, std::size_t size) {
            staged.Write(name, data, size);
        });
        staged.Commit([&](const QString& tiles) { WriteTileCount(tiles, next); });
        if (!options.tileset.isEmpty()) {
            QStringList tiles;
            for (std::int64_t k = 0; k < splitter.TileCount(); ++k) {
                tiles += folder + TileFileName(static_cast<std::int32_t>(options.start + k), options.format);
            }
            WriteCollectionTileset(tileset, options.grid.Tile(), tiles);
        }
        CommandReport& report = CommandReport::Current();
        report.Read(source);
        report.WroteTiles(folder, options.start, splitter.TileCount(), TileSuffix(options.format));
        report.Wrote(folder + "info.ini");
        if (!options.tileset.isEmpty()) {
            report.Wrote(options.tileset);
        }
        report.Count(QStringLiteral("next"), next);
        report.Count(QStringLiteral("dropped"), splitter.DroppedPixels());
        if (!request.quiet) {
            QString line = QStringLiteral("%1 tiles written to %2, next free number %3")
                               .arg(splitter.TileCount())
                               .arg(folder)
                               .arg(next);
            if (splitter.DroppedPixels() > 0) {
                line += QStringLiteral("; %1 pixels at the right and bottom edges dropped (--keep-edges keeps them)")
                            .arg(splitter.DroppedPixels());
            }
            PrintOut(line + "\n");
        }
        return ExitOk;
    } catch (const RuntimeError& failure) {
        return FailRun(failure, QStringLiteral("split"));
    }
}

int RunTileCompile(const Request& request, const TileOptions& options) {
    const QString& source = request.operands[0];
    if (const auto refused = RefuseCompileOperands(request, true)) {
        return *refused;
    }
    try {
        const std::int32_t end = RoundToLong(StrictNumber(ReadTileCount(source)));
        const std::int64_t count = std::int64_t{end} - options.start;
        if (count <= 0) {
            return RefuseRun(QStringLiteral("no tiles to compile: NumFiles is %1 and the start number %2").arg(end).arg(options.start));
        }
        const TileGrid& grid = options.grid;
        const int columns = options.autoWidth ? grid.SquarestColumns(count) : options.width.value_or(startupColumns());
        const SheetBuilder builder(grid, columns, count, options.format);
        // Extruded, the tileset reads the same tiles at a wider margin and spacing.
        const SheetExtruder extruder(grid, options.extrude);
        const QSize size = options.extrude > 0 ? extruder.ExtrudedSize(builder.SheetSize()) : builder.SheetSize();
        if (size.isEmpty()) {
            return RefuseRun(QStringLiteral("%1 tiles at %2 to a row (%3%4) make a sheet larger than %5 pixels a side")
                              .arg(count)
                              .arg(columns)
                              .arg(gridText(grid))
                              .arg(options.extrude > 0 ? QStringLiteral(", extruded by %1").arg(options.extrude) : QString())
                              .arg(Limits::PictureSide));
        }
        const TileFolder tiles(source, options.format);
        const auto tilePath = [&](std::int64_t k) { return tiles.Path(static_cast<std::int32_t>(options.start + k)); };
        const QString sheetPath = AsFolder(request.operands[1]) + "Tiles" + TileSuffix(options.format);
        const QString sheetFile = editedFile(sheetPath);
        const QString tileset = editedFile(options.tileset);
        // The rows go out as they are drawn, unless the sheet is extruded or may be indexed.
        bool banded = false;
        if (options.extrude == 0) {
            SheetWriter out(sheetFile, size, options.format);
            banded = builder.BuildBands(tilePath, [&](const QImage& band, int top) { out.WriteRows(band, top); });
            if (banded) {
                out.Commit();
            }
        }
        if (!banded) {
            QImage sheet = builder.Build(tilePath);
            if (options.extrude > 0) {
                sheet = extruder.Extrude(sheet);
            }
            WriteTileImage(sheet, size.width(), size.height(), options.format, ChooseFilters(sheet, 0, sheet.height()),
                           sheetFile);
        }
        if (!options.tileset.isEmpty()) {
            WriteSheetTileset(tileset, options.extrude > 0 ? extruder.ExtrudedGrid() : grid, static_cast<int>(count),
                              columns, sheetPath, size);
        }
        CommandReport& report = CommandReport::Current();
        report.Read(source);
        report.Wrote(sheetPath);
        if (!options.tileset.isEmpty()) {
            report.Wrote(options.tileset);
        }
        report.Count(QStringLiteral("width"), size.width());
        report.Count(QStringLiteral("height"), size.height());
        report.Count(QStringLiteral("tiles"), count);
        report.Count(QStringLiteral("columns"), columns);
        if (!request.quiet) {
            QString line = QStringLiteral("%1 written, %2 by %3 pixels, %4 tiles at %5 to a row")
                               .arg(sheetPath)
                               .arg(size.width())
                               .arg(size.height())
                               .arg(count)
                               .arg(columns);
            if (options.extrude > 0) {
                line += "; " + ExtrusionSummary(options.extrude, extruder.ExtrudedGrid());
            }
            PrintOut(line + "\n");
        }
        return ExitOk;
    } catch (const RuntimeError& failure) {
        return FailRun(failure, QStringLiteral("compile"));
    }
}
