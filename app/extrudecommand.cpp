#include "extrudecommand.h"

#include "batchio.h"
#include "commandreport.h"

#include "imaging/picture.h"
#include "imaging/picturefile.h"
#include "imaging/pngwriter.h"
#include "runtime/atomicfile.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"
#include "tiles/sheetextruder.h"
#include "tiles/tileformat.h"

#include <QFileInfo>

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

// The extruded sheet of the picture at source written to out, in the format. Returns the
// exit status; the summary tells the grid a tileset reads it with.
int writeExtruded(const QString& source, const QString& out, TileFormat format, const TileGrid& grid, int extrusion,
                  bool quiet) {
    const SheetExtruder extruder(grid, extrusion);
    QImage sheet = onFile(source, [&] { return LoadPicture(source); });
    const QSize cells = extruder.Cells(sheet.size());
    const QSize size = extruder.ExtrudedSize(sheet.size());
    if (cells.isEmpty()) {
        return RefuseRun(QStringLiteral("%1: the grid (tile %2, margin %3, spacing %4) is larger than the %5 sheet")
                             .arg(source, sizeText(grid.Tile()))
                             .arg(grid.Margin())
                             .arg(grid.Spacing())
                             .arg(sizeText(sheet.size())));
    }
    if (size.isEmpty()) {
        return RefuseRun(QStringLiteral("%1: extruded by %2, the sheet would pass %3 pixels a side")
                             .arg(source)
                             .arg(extrusion)
                             .arg(Picture::MaxSide));
    }
    const bool partial = grid.CoveredCells(sheet.size()) != cells;
    if (format == TileFormat::Bmp) {
        // Gaps in the background colour, as in every bitmap the tool writes.
        sheet = OpaqueRgb32(sheet);
    }
    const QImage extruded = extruder.Extrude(sheet);
    sheet = QImage();
    onFile(out, [&] {
        RemoveLeftovers(ToFsPath(QFileInfo(out).absolutePath()));
        WriteTileImage(extruded, size.width(), size.height(), format, ChooseFilters(extruded, 0, size.height()), out);
    });
    if (!quiet) {
        PrintOut(QStringLiteral("%1 written, %2 by %3 pixels, %4 tiles (%5)%6; %7\n")
                     .arg(out)
                     .arg(size.width())
                     .arg(size.height())
                     .arg(std::int64_t{cells.width()} * cells.height())
                     .arg(sizeText(cells),
                          partial ? QStringLiteral(", the partial tiles at the right and bottom edges dropped") : QString(),
                          ExtrusionSummary(extrusion, extruder.ExtrudedGrid())));
    }
    return ExitOk;
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
        return writeExtruded(source, out, *format, options.grid, options.extrude, request.quiet);
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
    return runSheet(request, options);
}
