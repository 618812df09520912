#include "mapcommands.h"

#include "batchio.h"
#include "commandreport.h"

#include "imaging/picture.h"
#include "imaging/picturefile.h"
#include "records/tileinfo.h"
#include "runtime/atomicfile.h"
#include "runtime/destination.h"
#include "runtime/filelock.h"
#include "runtime/limits.h"
#include "runtime/numbers.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"
#include "tiled/mapfile.h"
#include "maps/maprenderer.h"
#include "sheets/sheetwriter.h"
#include "tiled/tiledfiles.h"
#include "tiled/tileddocument.h"
#include "sheets/sheetsplitter.h"
#include "sheets/tileindex.h"
#include "tiled/tilesetfile.h"
#include "tiled/tilesetreader.h"
#include "sheets/uniquesplitter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPainter>


namespace {
QString seconds(const QElapsedTimer& timer) { return QString::number(static_cast<double>(timer.elapsed()) / 1000.0, 'f', 2); }

QString sizeText(QSize size) { return QStringLiteral("%1x%2").arg(size.width()).arg(size.height()); }

// The tile as the index keeps tiles of the picture's format.
QImage inFormatOf(const QImage& tile, QImage::Format format) {
    return format == QImage::Format_RGB32 ? OpaqueRgb32(InTileFormat(tile)) : InTileFormat(tile).convertToFormat(format);
}

// The tileset beside the map, of the same name, unless one is given.
QString tilesetOf(const TileOptions& options) {
    if (!options.tileset.isEmpty() || options.map.isEmpty()) {
        return options.tileset;
    }
    const QFileInfo map(options.map);
    return map.dir().filePath(map.completeBaseName() + ".tsx");
}

// Why a map's picture cannot be written under this name; "" when it can. Only PNG and BMP are
// written, and a name that says another format would mislead every program that opens it.
QString pictureNameProblem(const QString& name, bool formatGiven) {
    const QString suffix = QFileInfo(name).suffix().toLower();
    if (suffix == "png" || suffix == "bmp" || (suffix.isEmpty() && formatGiven)) {
        return QString();
    }
    if (suffix.isEmpty()) {
        return QStringLiteral("%1: a picture name without .png or .bmp says no format; add one or give --format").arg(name);
    }
    return QStringLiteral("%1: tilvex writes .png and .bmp pictures, not .%2").arg(name, suffix);
}

// Before a level's files are written: none of them may be a device or a folder, replace the
// picture being split, or replace a file the tileset already uses for another id (its ids
// would show the new tiles). Tileset and map folders lose what killed runs left there.
void refuseUnsafeWrites(const QString& source, const QStringList& known, const QStringList& tiles,
                        const QStringList& edited, const QString& tileInfo) {
    for (const QString& file : edited + QStringList{tileInfo}) {
        if (!file.isEmpty()) {
            RefuseSpecialFile(file);
            RemoveLeftovers(ToFsPath(QFileInfo(file).absolutePath()));
        }
    }
    QStringList written = tiles;
    for (const QString& file : edited) {
        if (!file.isEmpty()) {
            written += file;
        }
    }
    RefuseInputsAsDestinations(written, QStringList{source} + known);
}

// A map of any kind Tiled saves, drawn as Tiled draws it.
int drawTiledMap(const Request& request, const TiledMap& map, const TileOptions& options, TileFormat format,
                 const QString& target, const QElapsedTimer& timer) {
    const QString& destination = request.operands[0];
    // Every file the map is drawn from stays as it is.
    QStringList inputs{map.file};
    for (const TilesetRef& ref : map.tilesets) {
        inputs << ref.tileset->file << ref.tileset->image.source;
        for (const auto& [id, tile] : ref.tileset->tiles) {
            inputs << tile.image.source;
        }
    }
    ForEachLayer(map.layers, [&](const TiledLayer& layer) { inputs << layer.image.source; });
    inputs.removeAll(QString());
    RefuseSpecialFile(target);
    RefuseInputsAsDestinations({target}, inputs);
    MapRenderer::Options drawing;
    drawing.hidden = request.Has("--hidden");
    drawing.layers = request.All("--layer");
    MapRenderer renderer(map, drawing);
    const QSize size = renderer.PictureSize();
    RemoveLeftovers(ToFsPath(QFileInfo(target).absolutePath()));
    SheetWriter out(target, size, format);
    // Bands of about 8 MiB: the picture is drawn, converted and compressed a band at a time.
    const int bandRows = std::max(1, (8 << 20) / std::max(1, 4 * size.width()));
    renderer.DrawBands(bandRows, [&](const QImage& drawn, int top) {
        QImage band = drawn;
        if (options.emptyColour || format == TileFormat::Bmp) {
            // What the map leaves transparent shows the empty colour, or in a bitmap the background.
            QImage under(band.size(), QImage::Format_ARGB32_Premultiplied);
            under.fill(QColor::fromRgb(options.emptyColour.value_or(Picture::Background().rgb())));
            QPainter painter(&under);
            painter.drawImage(0, 0, band);
            painter.end();
            band = under;
        }
        band = band.convertToFormat(QImage::Format_RGBA8888);
        out.WriteRows(format == TileFormat::Png ? band : OpaqueRgb32(band), top);
    });
    out.Commit();
    CommandReport& report = CommandReport::Current();
    report.Read(map.file);
    report.Wrote(target);
    report.Count(QStringLiteral("width"), size.width());
    report.Count(QStringLiteral("height"), size.height());
    report.Count(QStringLiteral("objectsLeftOut"), renderer.ObjectsLeftOut());
    if (!request.quiet) {
        PrintOut(QStringLiteral("%1 written, %2 by %3 pixels, %4 layers drawn, %5 objects left out (shapes, text, templates), %6 s\n")
                     .arg(destination)
                     .arg(size.width())
                     .arg(size.height())
                     .arg(renderer.LayersDrawn())
                     .arg(renderer.ObjectsLeftOut())
                     .arg(seconds(timer)));
    }
    return ExitOk;
}
}  // namespace

int RunUniqueSplit(const Request& request, const TileOptions& options) {
    QElapsedTimer timer;
    timer.start();
    const QString& source = request.operands[0];
    if (const auto refused = RefuseSplitOperands(request)) {
        return *refused;
    }
    const QString folder = AsFolder(request.operands[1]);
    const QString tileset = tilesetOf(options);
    const QString tilesetFile = LinkTarget(tileset);
    const QString mapFile = LinkTarget(options.map);
    try {
        // Runs that share a tileset take turns from reading it to writing it and their maps.
        std::optional<FileLock> turn;
        if (!tileset.isEmpty()) {
            turn.emplace(tilesetFile);
        }
        // A tileset given and there already: its tiles keep their ids, new ones follow.
        std::optional<TilesetReader> shared;
        if (!options.tileset.isEmpty() && QFileInfo::exists(tilesetFile)) {
            shared.emplace(tilesetFile);
            if (!shared->IsCollection()) {
                return RefuseRun(QStringLiteral("--tileset %1: a tileset of one sheet gets no new tiles; give an "
                                                "image-collection tileset (as split writes) or a new file")
                                     .arg(options.tileset));
            }
            if (shared->Tile() != options.grid.Tile()) {
                return RefuseRun(QStringLiteral("--tileset %1 holds %2 tiles, not %3")
                                     .arg(options.tileset, sizeText(shared->Tile()), sizeText(options.grid.Tile())));
            }
        }
        QImage picture = LoadPicture(source);
        // Tiles of other palettes compare only as colours.
        if (shared && picture.format() == QImage::Format_Indexed8) {
            picture = picture.convertToFormat(QImage::Format_RGBA8888);
        }
        const SheetSplitter splitter(picture, options.grid, options.keepEdges, options.format);
        if (splitter.TileCount() == 0) {
            return RefuseRun(QStringLiteral("the %1 tile is larger than the %2 picture")
                                 .arg(sizeText(options.grid.Tile()), sizeText(picture.size())));
        }
        TileIndex index(options.grid.Tile(), splitter.Tile(0).format(), options.flips);
        const std::int32_t known = shared ? shared->Count() : 0;
        if (shared) {
            for (const QImage& tile : shared->LoadTiles()) {
                index.Add(inFormatOf(tile, splitter.Tile(0).format()));
            }
        }
        std::optional<QRgb> emptyColour = options.emptyColour;
        if (!emptyColour && options.format == TileFormat::Bmp) {
            emptyColour = Picture::Background().rgb();
        }
        UniqueSplitter unique(options.skipEmpty, emptyColour);
        TileMap map = unique.Place(splitter, index);
        const std::int64_t next = std::int64_t{options.start} + index.Count();
        if (next > Limits::TileNumber) {
            return RefuseRun(QStringLiteral("--start %1: %2 tiles would pass tile number %3")
                                 .arg(options.start)
                                 .arg(index.Count()).arg(Limits::TileNumber));
        }
        if (map.PictureSize() != picture.size()) {
            map.SetPictureSize(picture.size());
        }
        if (options.skipEmpty && emptyColour) {
            map.Background = emptyColour;
        }

        if (!QFileInfo(folder).isDir()) {
            MakeFolder(request.operands[1]);
        }
        RemoveLeftovers(ToFsPath(folder));
        RefuseSourceAmongTiles(source, folder, options.start + std::int64_t{known}, index.Count() - known,
                               TileSuffix(options.format));
        QStringList newFiles;
        for (std::int32_t id = known; id < index.Count(); ++id) {
            newFiles += folder + TileFileName(options.start + id, options.format);
        }
        refuseUnsafeWrites(source, shared ? shared->Sources() : QStringList(), newFiles, {tilesetFile, mapFile},
                           folder + "info.ini");
        UniqueSplitter::WriteTiles(index, known, folder, options.start, options.format);
        WriteTileCount(folder, next);
        if (shared) {
            // The user's tileset keeps all it holds; only the new tiles and the count are ours.
            TilesetDocument document(tilesetFile);
            for (std::int32_t id = known; id < index.Count(); ++id) {
                document.AppendTile(id, folder + TileFileName(options.start + id, options.format), options.grid.Tile());
            }
            document.SetNumber("tilecount", index.Count());
            document.Save();
        } else if (!tileset.isEmpty()) {
            WriteCollectionTileset(tilesetFile, options.grid.Tile(), newFiles);
        }
        if (!options.map.isEmpty()) {
            map.Tileset = tileset;
            WriteMapFile(mapFile, map);
        }
        const UniqueSplitter::Counts& count = unique.Count();
        CommandReport& report = CommandReport::Current();
        report.Read(source);
        report.WroteTiles(folder, options.start + std::int64_t{known}, count.stored, TileSuffix(options.format));
        report.Wrote(folder + "info.ini");
        for (const QString& written : {tileset, options.map}) {
            if (!written.isEmpty()) {
                report.Wrote(written);
            }
        }
        report.Count(QStringLiteral("seen"), count.seen);
        report.Count(QStringLiteral("unique"), index.Count());
        report.Count(QStringLiteral("new"), count.stored);
        report.Count(QStringLiteral("flips"), count.flipped);
        report.Count(QStringLiteral("empty"), count.empty);
        report.Count(QStringLiteral("next"), next);
        if (!request.quiet) {
            PrintOut(QStringLiteral("%1 tiles seen, %2 unique tiles stored (%3 new) in %4, %5 flips found, %6 empty cells, "
                                    "next free number %7, %8 s\n")
                         .arg(count.seen)
                         .arg(index.Count())
                         .arg(count.stored)
                         .arg(folder)
                         .arg(count.flipped)
                         .arg(count.empty)
                         .arg(next)
                         .arg(seconds(timer)));
        }
        return ExitOk;
    } catch (const RuntimeError& failure) {
        return FailRun(failure, QStringLiteral("split"));
    }
}

int RunMapCompile(const Request& request, const TileOptions& options) {
    QElapsedTimer timer;
    timer.start();
    const QString& destination = request.operands[0];
    if (destination.isEmpty()) {
        return RefuseRun(NoDestination);
    }
    if (!QFileInfo(options.map).isFile()) {
        return RefuseRun(QFileInfo::exists(options.map) ? QStringLiteral("is a folder, not a map")
                                                        : QStringLiteral("no such map file"),
                         options.map);
    }
    if (const QString problem = pictureNameProblem(destination, request.Value("--format").has_value()); !problem.isEmpty()) {
        return RefuseRun(problem);
    }
    // The picture's format: --format, else the name's.
    TileFormat format = destination.endsWith(".png", Qt::CaseInsensitive) ? TileFormat::Png : TileFormat::Bmp;
    if (request.Value("--format")) {
        if (format != options.format && (destination.endsWith(".png", Qt::CaseInsensitive) ||
                                         destination.endsWith(".bmp", Qt::CaseInsensitive))) {
            return RefuseRun(QStringLiteral("--format %1 and a picture named %2").arg(*request.Value("--format"), destination));
        }
        format = options.format;
    }
    const QString target = LinkTarget(destination);
    try {
        const QString mapFile = LinkTarget(options.map);
        // Maps of the plain kind split writes are drawn by exact copies; every other map as
        // Tiled draws it.
        std::optional<TileMap> plain;
        std::optional<TiledMap> tiled;
        if (options.map.endsWith(".csv", Qt::CaseInsensitive)) {
            plain = ReadMapFile(mapFile);
        } else {
            tiled = LoadMap(mapFile);
            QString why;
            if (request.All("--layer").isEmpty() && !request.Has("--hidden")) {
                plain = PlainTileMap(*tiled, why);
            }
            if (!plain && !options.tileset.isEmpty()) {
                return RefuseRun(QStringLiteral("--tileset %1: the map %2 is drawn from its own tilesets (%3)")
                                     .arg(options.tileset, options.map, why.isEmpty() ? QStringLiteral("--layer, --hidden") : why));
            }
        }
        if (!plain) {
            return drawTiledMap(request, *tiled, options, format, target, timer);
        }
        TileMap map = *plain;
        const QString tilesetFile = LinkTarget(options.tileset.isEmpty() ? map.Tileset : options.tileset);
        const TilesetReader tileset(tilesetFile);
        if (map.Tile().isEmpty()) {
            map = map.WithTile(tileset.Tile());
        } else if (map.Tile() != tileset.Tile()) {
            return RefuseRun(QStringLiteral("the map's tiles are %1, its tileset's %2")
                                 .arg(sizeText(map.Tile()), sizeText(tileset.Tile())));
        }
        const QSize size = map.PictureSize();
        if (size.width() > Limits::PictureSide || size.height() > Limits::PictureSide) {
            return RefuseRun(QStringLiteral("the map makes a %1 picture, larger than %2 pixels a side")
                                 .arg(sizeText(size))
                                 .arg(Limits::PictureSide));
        }
        if (options.emptyColour) {
            map.Background = options.emptyColour;
        }
        RefuseSpecialFile(target);
        RefuseInputsAsDestinations({target}, QStringList{mapFile, tilesetFile} + tileset.Sources());
        const QImage picture = map.Draw(tileset.LoadTiles(), format);
        RemoveLeftovers(ToFsPath(QFileInfo(target).absolutePath()));
        WriteTileImage(picture, size.width(), size.height(), format, ChooseFilters(picture, 0, picture.height()),
                       target);
        CommandReport& report = CommandReport::Current();
        report.Read(options.map);
        report.Read(options.tileset.isEmpty() ? map.Tileset : options.tileset);
        report.Wrote(target);
        report.Count(QStringLiteral("width"), size.width());
        report.Count(QStringLiteral("height"), size.height());
        if (!request.quiet) {
            PrintOut(QStringLiteral("%1 written, %2 by %3 pixels, %4 cells of %5 tiles, %6 s\n")
                         .arg(destination)
                         .arg(size.width())
                         .arg(size.height())
                         .arg(sizeText(map.Cells()), sizeText(map.Tile()))
                         .arg(seconds(timer)));
        }
        return ExitOk;
    } catch (const RuntimeError& failure) {
        return FailRun(failure, QStringLiteral("compile"));
    }
}

namespace {
QString tilesetsUsed(const TiledMap& map, const TiledLayer& layer) {
    QStringList names;
    const auto add = [&](std::uint32_t gid) {
        if (const TilesetRef* ref = map.TilesetOf(gid)) {
            const QString name = ref->tileset->name.isEmpty() ? QFileInfo(ref->tileset->file).completeBaseName() : ref->tileset->name;
            if (!names.contains(name)) {
                names += name;
            }
        }
    };
    ForEachPlacedGid(layer, add);
    return names.isEmpty() ? QStringLiteral("-") : names.join(',');
}

QString layerSize(const TiledLayer& layer) {
    switch (layer.kind) {
    case LayerKind::Tiles: {
        QRect cells;
        for (const TiledChunk& chunk : layer.chunks) {
            cells |= chunk.area;
        }
        return sizeText(cells.size());
    }
    case LayerKind::Objects: return QStringLiteral("%1 objects").arg(layer.objects.size());
    case LayerKind::Image: return layer.image.Empty() ? QStringLiteral("no image") : sizeText(layer.image.size);
    case LayerKind::Group: return QStringLiteral("%1 layers").arg(layer.layers.size());
    }
    return QString();
}

void printLayers(const QString& file, const TiledMap& map, const std::vector<TiledLayer>& layers, const QString& parent) {
    static const char* const kinds[] = {"tiles", "objects", "image", "group"};
    for (const TiledLayer& layer : layers) {
        const QString name = parent.isEmpty() ? layer.name : parent + '/' + layer.name;
        PrintOut(QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\n")
                     .arg(file, QLatin1String(kinds[static_cast<int>(layer.kind)]), name, layerSize(layer),
                          tilesetsUsed(map, layer), layer.visible ? QStringLiteral("visible") : QStringLiteral("hidden")));
        printLayers(file, map, layer.layers, name);
    }
}
}  // namespace

int PrintMapInfo(const QString& file) {
    try {
        const TiledMap map = LoadMap(file);
        printLayers(file, map, map.layers, QString());
        return ExitOk;
    } catch (RuntimeError& failure) {
        failure.NameFile(file);
        PrintErr(QStringLiteral("tilvex: %1\n").arg(FailureText(failure)));
        return ExitFailure;
    }
}
