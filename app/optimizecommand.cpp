#include "optimizecommand.h"

#include "batchio.h"
#include "commandreport.h"
#include "extrudecommand.h"

#include "imaging/picture.h"
#include "runtime/limits.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"
#include "runtime/wholefile.h"
#include "maps/mapoptimizer.h"
#include "sheets/sheetbuilder.h"
#include "sheets/sheetextruder.h"
#include "tiled/tiledfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <set>

namespace {
// The path as the file system names it, folders resolved where they exist.
QString realPath(const QString& path) {
    const QFileInfo info(path);
    const QString real = info.canonicalFilePath();
    return real.isEmpty() ? info.absoluteFilePath() : real;
}

bool holds(const QString& folder, const QString& file) {
    const QString inside = realPath(folder) + "/";
    return realPath(file).startsWith(inside);
}

bool hasTransparency(const TileCensus& census) {
    for (std::int32_t id = 0; id < census.Count(); ++id) {
        const QImage& tile = census.Tile(id);
        for (int y = 0; y < tile.height(); ++y) {
            const uchar* row = tile.constScanLine(y);
            for (int x = 0; x < tile.width(); ++x) {
                if (row[4 * x + 3] != 255) {
                    return true;
                }
            }
        }
    }
    return false;
}
}  // namespace

int RunOptimize(const Request& request, const TileOptions& options) {
    QElapsedTimer timer;
    timer.start();
    const auto out = request.Value("--out");
    if (!out || out->isEmpty()) {
        return RefuseRun(QStringLiteral("optimize needs --out DIR"));
    }
    const QString name = options.tileset.isEmpty() ? QStringLiteral("tileset.tsx") : options.tileset;
    if (name.contains('/') || name.contains(QDir::separator())) {
        return RefuseRun(QStringLiteral("--tileset %1: a file name, written into --out").arg(name));
    }
    std::set<QString> written = {name.toLower()};
    for (const QString& map : request.operands) {
        if (!IsTiledMapName(map)) {
            return RefuseRun(QStringLiteral("%1: not a map file (.tmx or .tmj)").arg(map));
        }
        if (!QFileInfo(map).isFile()) {
            return RefuseRun(QStringLiteral("%1: %2").arg(map, NoSource));
        }
        if (!written.insert(QFileInfo(map).fileName().toLower()).second) {
            return RefuseRun(QStringLiteral("%1: another map or the tileset has the same name in %2").arg(map, *out));
        }
    }
    const QString folder = AsFolder(*out);
    // Sheets of the tiles of other tools' maps keep their alpha unless told otherwise.
    const TileFormat format = request.Value("--format") ? options.format : TileFormat::Png;
    try {
        MapOptimizer optimizer(request.operands, options.flips);
        for (const QString& input : optimizer.Inputs() + optimizer.Images()) {
            if (holds(folder, input)) {
                return RefuseRun(QStringLiteral("--out %1 holds %2, which is read; give a folder of its own").arg(*out, input));
            }
        }
        const TileCensus& census = optimizer.Census();
        if (census.Count() == 0) {
            return RefuseRun(QStringLiteral("the maps place no tile"));
        }
        const int columns = options.width ? *options.width : TileGrid(census.TileSize()).SquarestColumns(census.Count());
        const SheetBuilder builder(TileGrid(census.TileSize()), columns, census.Count(), format);
        // Extruded, the new tileset reads the same tiles at a wider margin and spacing.
        const SheetExtruder extruder(TileGrid(census.TileSize()), options.extrude);
        const QSize plainSize = builder.SheetSize();
        const QSize sheetSize = options.extrude > 0 && !plainSize.isEmpty() ? extruder.ExtrudedSize(plainSize) : plainSize;
        if (sheetSize.isEmpty()) {
            return RefuseRun(QStringLiteral("%1 tiles at %2 a row make a sheet larger than %3 pixels a side")
                                 .arg(census.Count())
                                 .arg(columns)
                                 .arg(Limits::PictureSide));
        }
        if (format == TileFormat::Bmp && hasTransparency(census)) {
            return RefuseRun(QStringLiteral("--format bmp: the tiles have transparent pixels, which a bitmap sheet "
                                            "cannot hold; use --format png"));
        }
        const QString sheetName = QFileInfo(name).completeBaseName() + TileSuffix(format);
        if (!request.Has("--dry-run")) {
            if (!QFileInfo(folder).isDir()) {
                MakeFolder(*out);
            }
            QImage sheet = builder.Draw([&](std::int64_t k) { return census.Tile(static_cast<std::int32_t>(k)); });
            if (options.extrude > 0) {
                sheet = extruder.Extrude(sheet);
            }
            WriteTileImage(sheet, sheetSize.width(), sheetSize.height(), format,
                           ChooseFilters(sheet, 0, sheet.height()), folder + sheetName);
            XmlNode composed = optimizer.Tileset(columns, sheetName, sheetSize);
            if (options.extrude > 0) {
                composed.Set("margin", QString::number(extruder.ExtrudedGrid().Margin()));
                composed.Set("spacing", QString::number(extruder.ExtrudedGrid().Spacing()));
            }
            const QByteArray tileset = XmlBytes(composed);
            WriteWholeFile(folder + name, tileset.constData(), static_cast<std::size_t>(tileset.size()));
            const QString tilesetPath = QFileInfo(folder + name).absoluteFilePath();
            for (std::size_t k = 0; k < optimizer.Maps().size(); ++k) {
                MapDocument& map = optimizer.Maps()[k];
                map.RenumberGids([&](std::uint32_t gid) { return optimizer.NewGid(k, gid); });
                map.SetTilesets({{1, tilesetPath}});
                map.Save(folder + QFileInfo(map.File()).fileName());
                CommandReport::Current().Wrote(folder + QFileInfo(map.File()).fileName());
            }
            CommandReport::Current().Wrote(folder + sheetName);
            CommandReport::Current().Wrote(folder + name);
        }
        CommandReport& report = CommandReport::Current();
        for (const QString& input : optimizer.Inputs()) {
            report.Read(input);
        }
        report.Count(QStringLiteral("maps"), optimizer.Tally().maps);
        report.Count(QStringLiteral("tilesBefore"), optimizer.Tally().tilesBefore);
        report.Count(QStringLiteral("used"), census.Tally().used);
        report.Count(QStringLiteral("tiles"), census.Count());
        report.Count(QStringLiteral("merged"), census.Tally().merged);
        report.Count(QStringLiteral("flips"), census.Tally().flipped);
        report.Count(QStringLiteral("sheetPixelsBefore"), optimizer.Tally().sheetPixelsBefore);
        report.Count(QStringLiteral("sheetPixelsAfter"), std::int64_t{sheetSize.width()} * sheetSize.height());
        if (!request.quiet) {
            const MapOptimizer::Counts& counts = optimizer.Tally();
            const TileCensus::Counts& tally = census.Tally();
            PrintOut(QStringLiteral("%1 maps read; tiles: %2 before, %3 used, %4 after (%5 duplicates merged, %6 by "
                                    "flips); sheet pixels: %7 before, %8 after; %9 s%10\n")
                         .arg(counts.maps)
                         .arg(counts.tilesBefore)
                         .arg(tally.used)
                         .arg(census.Count())
                         .arg(tally.merged)
                         .arg(tally.flipped)
                         .arg(counts.sheetPixelsBefore)
                         .arg(std::int64_t{sheetSize.width()} * sheetSize.height())
                         .arg(QString::number(static_cast<double>(timer.elapsed()) / 1000.0, 'f', 2))
                         .arg((options.extrude > 0 ? "; " + ExtrusionSummary(options.extrude, extruder.ExtrudedGrid()) : QString()) +
                              (request.Has("--dry-run") ? QStringLiteral(" (dry run: nothing written)") : QString())));
        }
        return ExitOk;
    } catch (const RuntimeError& failure) {
        return FailRun(failure, QStringLiteral("optimize"));
    }
}
