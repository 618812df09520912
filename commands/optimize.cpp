#include "commands/optimize.h"

#include "commands/extrude.h"

#include "imaging/picture.h"
#include "ldtk/ldtkproject.h"
#include "maps/mapoptimizer.h"
#include "runtime/destination.h"
#include "runtime/filelock.h"
#include "runtime/limits.h"
#include "runtime/outputfiles.h"
#include "runtime/paths.h"
#include "runtime/stagingfolder.h"
#include "runtime/wholefile.h"
#include "sheets/sheetbuilder.h"
#include "sheets/sheetextruder.h"
#include "tiled/tiledfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <set>

namespace {
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

// The maps and the tileset's name: each a map file, no two of one name in the folder.
void refuseNames(const OptimizeRequest& request, const QString& name) {
    if (name.contains('/') || name.contains(QDir::separator())) {
        throw Refused(QStringLiteral("--tileset %1: a file name, written into --out").arg(name));
    }
    std::set<QString> written = {name.toLower()};
    for (const QString& map : request.maps) {
        if (IsLdtkName(map)) {
            // LDtk draws a tile only from its tileset's grid: a new sheet needs every level rewritten.
            throw Refused(QStringLiteral("an LDtk project, which optimize does not rewrite; carry it to Tiled (tilvex export %1 --to tiled "
                                         "--out DIR) and optimize the maps there").arg(QFileInfo(map).fileName()), map);
        }
        if (!IsTiledMapName(map)) {
            throw Refused(QStringLiteral("not a map file (.tmx, .tmj or .json)"), map);
        }
        if (!QFileInfo(map).isFile()) {
            throw Refused(NoSource, map);
        }
        if (!written.insert(QFileInfo(map).fileName().toLower()).second) {
            throw Refused(QStringLiteral("another map or the tileset has the same name in %1").arg(request.out), map);
        }
    }
}

// The staged name of a map over the interim tileset.
const std::string InterimMark = ".interim";

// Replaces the old maps, tileset and sheet of --out so that every map draws as its old or its
// new self whenever the run stops: the maps first go over the new tileset and sheet under
// interim names the old ones do not use, then the sheet and tileset take their names, the
// maps follow them and the interim files go. names: the sheet, the tileset, the maps.
void placeInSteps(StagingFolder& staged, const std::vector<std::string>& names, const std::string& interimTileset,
                  const std::string& interimSheet) {
    std::vector<std::string> all = names;
    all.push_back(interimTileset);
    all.push_back(interimSheet);
    staged.Check(all);
    staged.Place(interimSheet, interimSheet);
    staged.Place(interimTileset, interimTileset);
    for (std::size_t k = 2; k < names.size(); ++k) {
        staged.Place(names[k] + InterimMark, names[k]);
    }
    for (const std::string& file : names) {
        staged.Place(file, file);
    }
    for (const int which : {1, 2}) {
        staged.Remove(ToFsPath(OutputFiles::InterimName(FromFsPath(names[1]), which)).string());
        staged.Remove(ToFsPath(OutputFiles::InterimName(FromFsPath(names[0]), which)).string());
    }
    staged.Done();
}

void optimize(const OptimizeRequest& request, OptimizeResult& result) {
    QElapsedTimer timer;
    timer.start();
    const TileOptions& options = request.options;
    if (request.out.isEmpty()) {
        throw Refused(QStringLiteral("optimize needs --out DIR"));
    }
    const QString name = options.tileset.isEmpty() ? QStringLiteral("tileset.tsx") : options.tileset;
    refuseNames(request, name);
    const QString folder = AsFolder(request.out);
    // Sheets of the tiles of other tools' maps keep their alpha unless told otherwise.
    const TileFormat format = options.FormatGiven() ? options.format : TileFormat::Png;
    std::optional<MapOptimizer> reading;
    try {
        reading.emplace(request.maps, options.flips);
    } catch (const TilesetMismatch& mismatch) {
        // The map as the user named it.
        QString map = mismatch.map;
        for (const QString& named : request.maps) {
            if (QFileInfo(named).absoluteFilePath() == QFileInfo(mismatch.map).absoluteFilePath()) {
                map = named;
            }
        }
        throw Refused(mismatch.Reason(), map);
    }
    MapOptimizer& optimizer = *reading;
    for (const QString& input : optimizer.Inputs() + optimizer.Images()) {
        if (OutputFiles::Holds(folder, input)) {
            throw Refused(QStringLiteral("--out %1 holds %2, which is read; give a folder of its own").arg(request.out, input));
        }
    }
    const TileCensus& census = optimizer.Census();
    if (census.Count() == 0) {
        throw Refused(QStringLiteral("the maps place no tile"));
    }
    const int columns = options.width ? *options.width : TileGrid(census.TileSize()).SquarestColumns(census.Count());
    const SheetBuilder builder(TileGrid(census.TileSize()), columns, census.Count(), format);
    // Extruded, the new tileset reads the same tiles at a wider margin and spacing.
    const SheetExtruder extruder(TileGrid(census.TileSize()), options.extrude);
    const QSize plainSize = builder.SheetSize();
    const QSize sheetSize = options.extrude > 0 && !plainSize.isEmpty() ? extruder.ExtrudedSize(plainSize) : plainSize;
    if (sheetSize.isEmpty()) {
        throw Refused(QStringLiteral("%1 tiles at %2 a row make a sheet larger than %3 pixels a side")
                          .arg(census.Count())
                          .arg(columns)
                          .arg(Limits::PictureSide));
    }
    if (format == TileFormat::Bmp && hasTransparency(census)) {
        throw Refused(QStringLiteral("--format bmp: the tiles have transparent pixels, which a bitmap sheet cannot hold; use --format png"));
    }
    const QString sheetName = QFileInfo(name).completeBaseName() + TileSuffix(format);
    result.extruded = extruder.ExtrudedGrid();
    if (!request.dryRun) {
        // Runs into one --out take turns; its parent is locked, as --out may not exist yet.
        // The folders above --out are made; a new --out itself appears whole, later.
        OutputFiles::Folder(QFileInfo(QDir::cleanPath(request.out)).absolutePath());
        const FileLock turn(QDir::cleanPath(request.out));
        std::vector<std::string> names = {ToFsPath(sheetName).string(), ToFsPath(name).string()};
        for (const MapDocument& map : optimizer.Maps()) {
            names.push_back(ToFsPath(QFileInfo(map.File()).fileName()).string());
        }
        if (QFileInfo(folder).isDir()) {
            OutputFiles::Folder(folder);
            // Every destination is looked at before anything is written.
            for (const std::string& file : names) {
                RefuseSpecialFile(folder + FromFsPath(file));
            }
        }
        StagingFolder staged(request.out);
        QImage sheet = builder.Draw([&](std::int64_t k) { return census.Tile(static_cast<std::int32_t>(k)); });
        if (options.extrude > 0) {
            sheet = extruder.Extrude(sheet);
        }
        WriteTileImage(sheet, sheetSize.width(), sheetSize.height(), format, ChooseFilters(sheet, 0, sheet.height()),
                       staged.Path(names[0]));
        sheet = QImage();
        const auto tilesetBytes = [&](const QString& image) {
            XmlNode composed = optimizer.Tileset(columns, image, sheetSize);
            if (options.extrude > 0) {
                composed.Set("margin", QString::number(result.extruded.Margin()));
                composed.Set("spacing", QString::number(result.extruded.Spacing()));
            }
            return XmlBytes(composed);
        };
        const auto stage = [&](const std::string& file, const QByteArray& bytes) {
            staged.Write(file, bytes.constData(), static_cast<std::size_t>(bytes.size()));
        };
        stage(names[1], tilesetBytes(sheetName));
        // The maps over the tileset as it will be named, and over an interim pair of names
        // where the old maps' tileset or sheet is to be replaced (see placeInSteps).
        const bool interim = !staged.New() && (QFileInfo::exists(folder + sheetName) || QFileInfo::exists(folder + name));
        const int which = OutputFiles::FreeInterim({folder + name, folder + sheetName});
        const QString interimName = QFileInfo(OutputFiles::InterimName(name, which)).fileName();
        const QString interimSheet = QFileInfo(OutputFiles::InterimName(sheetName, which)).fileName();
        for (std::size_t k = 0; k < optimizer.Maps().size(); ++k) {
            MapDocument& map = optimizer.Maps()[k];
            const QString file = folder + QFileInfo(map.File()).fileName();
            map.RenumberGids([&](std::uint32_t gid) { return optimizer.NewGid(k, gid); });
            map.SetTilesets({{1, QFileInfo(folder + name).absoluteFilePath()}});
            stage(names[2 + k], map.Bytes(file));
            if (interim) {
                map.SetTilesets({{1, QFileInfo(folder + interimName).absoluteFilePath()}});
                stage(names[2 + k] + InterimMark, map.Bytes(file));
            }
            result.written += file;
        }
        if (interim) {
            stage(ToFsPath(interimName).string(), tilesetBytes(interimSheet));
            staged.Link(names[0], ToFsPath(interimSheet).string());
            placeInSteps(staged, names, ToFsPath(interimName).string(), ToFsPath(interimSheet).string());
        } else if (staged.New()) {
            staged.Commit([](const QString&) {});
        } else {
            // New names: the sheet, then the tileset that describes it, then the maps over it.
            staged.Check(names);
            for (const std::string& file : names) {
                staged.Place(file, file);
            }
            staged.Done();
        }
        result.written += folder + sheetName;
        result.written += folder + name;
    }
    result.read += optimizer.Inputs();
    const MapOptimizer::Counts& counts = optimizer.Tally();
    const TileCensus::Counts& tally = census.Tally();
    result.Count(QStringLiteral("maps"), counts.maps);
    result.Count(QStringLiteral("tilesBefore"), counts.tilesBefore);
    result.Count(QStringLiteral("used"), tally.used);
    result.Count(QStringLiteral("tiles"), census.Count());
    result.Count(QStringLiteral("merged"), tally.merged);
    result.Count(QStringLiteral("flips"), tally.flipped);
    result.Count(QStringLiteral("sheetPixelsBefore"), counts.sheetPixelsBefore);
    result.Count(QStringLiteral("sheetPixelsAfter"), std::int64_t{sheetSize.width()} * sheetSize.height());
    result.seconds = static_cast<double>(timer.elapsed()) / 1000.0;
}
}  // namespace

OptimizeResult RunOptimize(const OptimizeRequest& request) {
    return RunCommand<OptimizeResult>(QStringLiteral("optimize"), [&](OptimizeResult& result) { optimize(request, result); });
}
