#include "commands/extrude.h"

#include "imaging/picture.h"
#include "imaging/picturesink.h"
#include "imaging/picturefile.h"
#include "imaging/pngwriter.h"
#include "imaging/sheetbands.h"
#include "ldtk/ldtkproject.h"
#include "runtime/limits.h"
#include "runtime/outputfiles.h"
#include "runtime/parallel.h"
#include "sheets/sheetextruder.h"
#include "tiled/tileddocument.h"

#include <QDir>
#include <QFileInfo>

#include <memory>

namespace {
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

// The extruded sheet of the picture at source written to out (the path to write), in the format.
void writeExtruded(const QString& source, const QString& out, TileFormat format, const SheetExtruder& extruder,
                   const TileGrid& grid, ExtrudeResult& result) {
    auto bands = AboutFile(source, [&] { return std::make_unique<SheetBands>(source); });
    const QSize sheetSize = bands->Size();
    result.size = extruder.ExtrudedSize(sheetSize);
    result.cells = extruder.Cells(sheetSize);
    result.partial = grid.CoveredCells(sheetSize) != grid.WholeCells(sheetSize);
    if (result.cells.isEmpty()) {
        throw Refused(QStringLiteral("the grid (%1) is larger than the %2 sheet").arg(GridText(grid), SizeText(sheetSize)), source);
    }
    if (result.size.isEmpty()) {
        throw Refused(QStringLiteral("extruded, the sheet would pass %1 pixels a side").arg(Limits::PictureSide), source);
    }
    OutputFiles::Folder(QFileInfo(out).absolutePath());
    if (format == TileFormat::Png && !bands->Whole()) {
        // A sheet read a band at a time is extruded and written a band of tile rows at a time.
        PictureSink writer(out, result.size, format);
        const int rows = result.cells.height();
        const int perBand = BandRows(std::int64_t{4} * result.size.width(), grid.Tile().height()) / grid.Tile().height();
        const auto firstRow = [&](int band) { return band * perBand; };
        const auto lastRow = [&](int band) { return std::min(rows, (band + 1) * perBand); };
        ReadAhead(
            (rows + perBand - 1) / perBand,
            [&](int band) {
                const int top = grid.Cell(0, firstRow(band)).y();
                return AboutFile(source, [&] { return bands->Rows(top, grid.Cell(0, lastRow(band) - 1).bottom() + 1 - top); });
            },
            [&](int band, const QImage& rowsRead) {
                const int first = firstRow(band);
                writer.WriteRows(extruder.ExtrudeRows(rowsRead, sheetSize, grid.Cell(0, first).y(), first, lastRow(band)));
            });
        writer.Commit();
        return;
    }
    // A view into the picture the bands hold, where they hold it whole.
    QImage sheet = bands->Whole() ? bands->Rows(0, sheetSize.height()) : AboutFile(source, [&] { return LoadPicture(source); });
    if (format == TileFormat::Bmp) {
        // Gaps in the background colour, as in every bitmap the tool writes.
        sheet = OpaqueRgb32(sheet);
    }
    const QImage extruded = extruder.Extrude(sheet);
    sheet = QImage();
    AboutFile(out, [&] {
        WriteTileImage(extruded, extruded.width(), extruded.height(), format, ChooseFilters(extruded, 0, extruded.height()), out);
    });
}

// The tileset's sheet extruded beside out, and out the same tileset reading it.
void extrudeTileset(const ExtrudeRequest& request, ExtrudeResult& result) {
    const QString& source = request.source;
    const QString& out = request.out;
    if (!out.endsWith(".tsx", Qt::CaseInsensitive)) {
        throw Refused(QStringLiteral("a tileset is extruded into a tileset, a file name ending in .tsx"), out);
    }
    if (!request.options.gridOption.isEmpty()) {
        throw Refused(QStringLiteral("extrude of a tileset takes its grid from the tileset, not %1").arg(request.options.gridOption));
    }
    TilesetDocument document(source);
    const TiledTileset& tileset = document.Model();
    if (tileset.IsCollection()) {
        throw Refused(QStringLiteral("an image-collection tileset (a picture for each tile) has no sheet to "
                                     "extrude; extrude the pictures' sheet and its tileset instead"), source);
    }
    const int n = request.options.extrude;
    if (tileset.margin + n > Limits::TileSide || tileset.spacing + 2 * n > Limits::TileSide) {
        throw Refused(QStringLiteral("extruded by %1, its margin %2 and spacing %3 would pass %4")
                          .arg(n)
                          .arg(tileset.margin + n)
                          .arg(tileset.spacing + 2 * n)
                          .arg(Limits::TileSide), source);
    }
    const QFileInfo outInfo(out);
    const QString sheet = outInfo.absoluteDir().filePath(outInfo.completeBaseName() + ".png");
    if (OutputFiles::SameFile(sheet, tileset.image.source)) {
        throw Refused(QStringLiteral("the extruded sheet %1 would replace the tileset's own image; give OUT another name").arg(sheet), out);
    }
    // Every destination is checked before anything is written. A linked OUT or sheet is
    // written at its target, and stays a link; neither may be an input of the run.
    OutputFiles outputs({source, tileset.image.source});
    const QString tilesetFile = outputs.File(out);
    const QString sheetFile = outputs.File(sheet);
    outputs.RefuseInputs();
    const TileGrid grid(tileset.tile, tileset.margin, tileset.spacing);
    const SheetExtruder extruder(grid, n);
    result.extruded = extruder.ExtrudedGrid();
    document.SetNumber("margin", result.extruded.Margin());
    document.SetNumber("spacing", result.extruded.Spacing());
    OutputFiles::SheetAndTileset(
        sheetFile, tilesetFile,
        [&](const QString& path) { writeExtruded(tileset.image.source, path, TileFormat::Png, extruder, grid, result); },
        [&](const QString& image) {
            document.SetImage(image == sheetFile ? sheet : image, result.size);
            AboutFile(out, [&] { document.Save(tilesetFile); });
        });
    result.sheet = sheet;
    result.tileset = out;
}

void extrudeSheet(const ExtrudeRequest& request, ExtrudeResult& result) {
    const QString& source = request.source;
    const QString& out = request.out;
    const std::optional<TileFormat> format = formatOf(out);
    if (!format) {
        throw Refused(QStringLiteral("the extruded sheet is written as .png or .bmp"), out);
    }
    if (!request.tileGiven) {
        throw Refused(QStringLiteral("extrude of a sheet needs its --tile WxH"));
    }
    if (OutputFiles::SameFile(source, out)) {
        throw Refused(QStringLiteral("the extruded sheet would replace its own source"), out);
    }
    const SheetExtruder extruder(request.options.grid, request.options.extrude);
    writeExtruded(source, out, *format, extruder, request.options.grid, result);
    result.extruded = extruder.ExtrudedGrid();
    result.sheet = out;
}
}  // namespace

QString ExtrusionSummary(int extrusion, const TileGrid& extruded) {
    return QStringLiteral("extruded by %1: tileset margin %2, spacing %3").arg(extrusion).arg(extruded.Margin()).arg(extruded.Spacing());
}

ExtrudeResult RunExtrude(const ExtrudeRequest& request) {
    return RunCommand<ExtrudeResult>(QStringLiteral("extrude"), [&](ExtrudeResult& result) {
        if (request.out.isEmpty()) {
            throw Refused(NoDestination);
        }
        if (!QFileInfo(request.source).isFile()) {
            throw Refused(NoSource);
        }
        if (IsLdtkName(request.source)) {
            throw Refused(QStringLiteral("an LDtk project, which extrude does not rewrite; export it with --extrude N (tilvex export %1 "
                                         "--to ldtk|phaser|godot --extrude N --out DIR), or carry it to Tiled and extrude its tilesets")
                              .arg(QFileInfo(request.source).fileName()), request.source);
        }
        if (request.source.endsWith(".tsx", Qt::CaseInsensitive)) {
            extrudeTileset(request, result);
        } else {
            extrudeSheet(request, result);
        }
    });
}
