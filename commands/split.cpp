#include "commands/split.h"

#include "commands/commandform.h"

#include "conversion/converter.h"
#include "imaging/picture.h"
#include "imaging/picturefile.h"
#include "imaging/sheetbands.h"
#include "records/tileinfo.h"
#include "runtime/filelock.h"
#include "runtime/limits.h"
#include "runtime/numbers.h"
#include "runtime/destination.h"
#include "runtime/outputfiles.h"
#include "runtime/paths.h"
#include "runtime/stagingfolder.h"
#include "sheets/sheetsplitter.h"
#include "sheets/tileindex.h"
#include "sheets/uniquesplitter.h"
#include "tiled/mapfile.h"
#include "tiled/tileddocument.h"
#include "tiled/tilesetfile.h"
#include "tiled/tilesetreader.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>


namespace {
// Pixels of the sheet that no tile the window cut holds.
std::int64_t droppedPixels(QSize sheet, long long tilesCut) {
    constexpr int tile = Converter::TileSide;
    const std::int64_t across = sheet.width() / tile;
    const std::int64_t rows = across > 0 ? tilesCut / across : 0;
    const std::int64_t kept = std::min<std::int64_t>(sheet.width(), tile * across) * std::min<std::int64_t>(sheet.height(), tile * rows);
    return std::int64_t{sheet.width()} * sheet.height() - kept;
}

// DEST blank or SOURCE no file: the window's messages, or what a picture needs.
void refuseOperands(const SplitRequest& request) {
    if (request.destination.isEmpty()) {
        throw Refused(NoDestination);
    }
    const QFileInfo source(request.source);
    if (!source.exists()) {
        throw Refused(QStringLiteral("no such file (%1)").arg(NoSource), request.source);
    }
    if (!source.isFile()) {
        throw Refused(QStringLiteral("is a folder, not a picture to split"), request.source);
    }
}

// The grid the tiles were cut with, for a later compile; columns where they are a sheet's.
RecordedGrid recordOf(const TileOptions& options, int columns) {
    const QSize tile = options.grid.Tile();
    return RecordedGrid{tile.width(), tile.height(), options.grid.Margin(), options.grid.Spacing(),
                        TileSuffix(options.format).mid(1), columns};
}

void refuseNumbers(std::int32_t start, std::int64_t count) {
    if (std::int64_t{start} + count > Limits::TileNumber) {
        throw Refused(QStringLiteral("--start %1: %2 tiles would pass tile number %3").arg(start).arg(count).arg(Limits::TileNumber));
    }
}

void splitTheWindowsWay(const SplitRequest& request, SplitResult& result) {
    // The window makes DEST itself, one level; the batch program makes the levels above it.
    OutputFiles::Folder(QFileInfo(QDir::cleanPath(request.destination)).absolutePath());
    CommandForm form(request.progress);
    Converter converter(form);
    RunTheWindowsWay(form, converter, true, {request.source, request.destination, request.startText, request.widthText}, result);
    if (!result.Ok()) {
        return;
    }
    const QString folder = AsFolder(form.Text(FormView::Box::spath));
    result.read += request.source;
    result.tiles = TilesWritten{folder, RoundToLong(StrictNumber(form.Text(FormView::Box::txtStart))), converter.TilesCut(),
                                QStringLiteral(".bmp")};
    result.written += folder + "info.ini";
    result.next = ReadTileCount(folder);
    // Bitmaps of the window's grid: a grid recorded by an earlier split no longer holds.
    if (ReadTileGrid(folder)) {
        WriteTileGrid(folder, RecordedGrid{});
    }
    result.Count(QStringLiteral("next"), static_cast<std::int64_t>(ParseNumber(result.next)));
    if (const std::int64_t dropped = droppedPixels(converter.SheetSize(), converter.TilesCut()); dropped > 0) {
        result.Count(QStringLiteral("dropped"), dropped);
    }
}

void splitByGrid(const SplitRequest& request, SplitResult& result) {
    const TileOptions& options = request.options;
    const QString folder = AsFolder(request.destination);
    SheetBands sheet(request.source);
    const SheetSplitter splitter(sheet.Size(), options.grid, options.keepEdges, options.format);
    if (splitter.TileCount() == 0) {
        throw Refused(QStringLiteral("the grid (%1) is larger than the %2 sheet").arg(GridText(options.grid), SizeText(sheet.Size())));
    }
    refuseNumbers(options.start, splitter.TileCount());
    const std::int64_t next = std::int64_t{options.start} + splitter.TileCount();
    const QFileInfo destination(request.destination);
    OutputFiles::Folder(destination.exists() ? folder : destination.path());
    if (destination.isDir()) {
        RefuseSourceAmongTiles(request.source, folder, options.start, splitter.TileCount(), TileSuffix(options.format));
    }
    OutputFiles outputs({request.source});
    const QString tileset = outputs.File(options.tileset);
    outputs.RefuseInputs();
    // The tiles stay out of sight until the whole sheet has been read and cut: a picture
    // that proves broken part way replaces no earlier tile.
    StagingFolder staged(request.destination);
    splitter.WriteTiles(sheet, options.start, [&](const std::string& name, const void* data, std::size_t size) {
        staged.Write(name, data, size);
    });
    staged.Commit([&](const QString& tiles) {
        // A count that is not recorded would make a later compile draw the wrong tiles.
        WriteTileCount(tiles, next);
        WriteTileGrid(tiles, recordOf(options, splitter.Cells().width()));
    });
    if (!options.tileset.isEmpty()) {
        QStringList tiles;
        for (std::int64_t k = 0; k < splitter.TileCount(); ++k) {
            tiles += folder + TileFileName(static_cast<std::int32_t>(options.start + k), options.format);
        }
        WriteCollectionTileset(tileset, options.grid.Tile(), tiles);
    }
    result.next = QString::number(next);
    result.read += request.source;
    result.tiles = TilesWritten{folder, options.start, splitter.TileCount(), TileSuffix(options.format)};
    result.written += folder + "info.ini";
    if (!options.tileset.isEmpty()) {
        result.written += options.tileset;
    }
    result.Count(QStringLiteral("next"), next);
    result.Count(QStringLiteral("dropped"), splitter.DroppedPixels());
}

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

// A level split without --tileset makes its tileset and tiles new: it replaces no tileset it
// was not given (another level's, of the map's name), nor tiles another level's tileset may use.
void refuseReplacing(const QString& tileset, const QString& tilesetFile, const QStringList& tiles) {
    if (!tileset.isEmpty() && QFileInfo::exists(tilesetFile)) {
        throw Refused(QStringLiteral("the tileset exists and would be replaced; give it with --tileset %1 to add the "
                                     "level's tiles to it, or give another --map or --tileset name").arg(tileset), tileset);
    }
    // A tile that is a link is replaced, and what it points to left alone.
    for (const QString& tile : tiles) {
        if (QFileInfo(tile).exists() && !QFileInfo(tile).isSymLink()) {
            throw Refused(QStringLiteral("the tile exists and may belong to another level; give that level's tileset with "
                                         "--tileset to add to it, a --start past the folder's tiles, or another folder"), tile);
        }
    }
}

void splitLevel(const SplitRequest& request, SplitResult& result) {
    QElapsedTimer timer;
    timer.start();
    const TileOptions& options = request.options;
    const QString& source = request.source;
    const QString folder = AsFolder(request.destination);
    const QString tileset = tilesetOf(options);
    const QString tilesetFile = LinkTarget(tileset);
    const QString mapFile = LinkTarget(options.map);
    const QString destinationFolder = QFileInfo(QDir::cleanPath(folder)).absoluteFilePath();
    // Files that lie in a new destination are made inside it, out of sight, with it.
    const auto inDestination = [&](const QString& file) { return !file.isEmpty() && QFileInfo(file).absolutePath() == destinationFolder; };
    // Runs that share a tileset take turns from reading it to writing it and their maps.
    std::optional<FileLock> turn;
    // A tileset in a folder still to be made: the folder's parent is locked.
    if (!tileset.isEmpty()) {
        const QString tilesetFolder = QFileInfo(tilesetFile).absolutePath();
        // The destination's parents are made now; a new destination appears whole, later.
        OutputFiles::Folder(QFileInfo(QDir::cleanPath(request.destination)).absolutePath());
        if (tilesetFolder != destinationFolder) {
            OutputFiles::Folder(tilesetFolder);
        }
        turn.emplace(QFileInfo(tilesetFolder).isDir() ? tilesetFile : QDir::cleanPath(request.destination));
    }
    // A tileset given and there already: its tiles keep their ids, new ones follow.
    std::optional<TilesetReader> shared;
    if (!options.tileset.isEmpty() && QFileInfo::exists(tilesetFile)) {
        shared.emplace(tilesetFile);
        if (!shared->IsCollection()) {
            throw Refused(QStringLiteral("--tileset: a tileset of one sheet gets no new tiles; give an "
                                         "image-collection tileset (as split writes) or a new file"),
                          tilesetFile);
        }
        if (shared->Tile() != options.grid.Tile()) {
            throw Refused(QStringLiteral("--tileset: its tiles are %1, not %2").arg(SizeText(shared->Tile()), SizeText(options.grid.Tile())),
                          tilesetFile);
        }
    }
    QImage picture = LoadPicture(source);
    // Tiles of other palettes compare only as colours.
    if (shared && picture.format() == QImage::Format_Indexed8) {
        picture = picture.convertToFormat(QImage::Format_RGBA8888);
    }
    const SheetSplitter splitter(picture, options.grid, options.keepEdges, options.format);
    if (splitter.TileCount() == 0) {
        throw Refused(QStringLiteral("the %1 tile is larger than the %2 picture").arg(SizeText(options.grid.Tile()), SizeText(picture.size())));
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
    refuseNumbers(options.start, index.Count());
    const std::int64_t next = std::int64_t{options.start} + index.Count();
    if (map.PictureSize() != picture.size()) {
        map.SetPictureSize(picture.size());
    }
    if (options.skipEmpty && emptyColour) {
        map.Background = emptyColour;
    }

    if (QFileInfo(folder).isDir()) {
        OutputFiles::Folder(folder);
    } else {
        OutputFiles::Folder(QFileInfo(QDir::cleanPath(request.destination)).absolutePath());
    }
    RefuseSourceAmongTiles(source, folder, options.start + std::int64_t{known}, index.Count() - known, TileSuffix(options.format));
    QStringList newFiles;
    for (std::int32_t id = known; id < index.Count(); ++id) {
        newFiles += folder + TileFileName(options.start + id, options.format);
    }
    if (options.tileset.isEmpty()) {
        refuseReplacing(tileset, tilesetFile, newFiles);
    }
    // None of the files may be special, replace the picture being split, or replace a file
    // the tileset already uses for another id (its ids would show the new tiles).
    OutputFiles outputs(QStringList{source} + (shared ? shared->Sources() : QStringList()));
    outputs.FilesIn(newFiles);
    outputs.File(tilesetFile, !inDestination(tilesetFile));
    outputs.File(mapFile, !inDestination(mapFile));
    RefuseSpecialFile(TileInfoFile(folder));
    outputs.RefuseInputs();
    // The tiles, info.ini, and a new tileset and the map where they lie in the folder, are made
    // out of sight and appear as one; files elsewhere follow.
    StagingFolder staged(request.destination);
    const auto inside = [&](const QString& file) {
        return staged.New() && !file.isEmpty() && QFileInfo(file).absolutePath() == QFileInfo(QDir::cleanPath(folder)).absoluteFilePath();
    };
    const auto stagedPath = [&](const QString& file) {
        return inside(file) ? staged.Path(ToFsPath(QFileInfo(file).fileName()).string()) : file;
    };
    UniqueSplitter::WriteTiles(index, known, staged.Path(std::string()), options.start, options.format);
    const bool tilesetInside = !shared && inside(tilesetFile);
    const bool mapInside = inside(mapFile) && (tileset.isEmpty() || tilesetInside);
    const auto writeTileset = [&](const QString& path, const QStringList& tiles) {
        if (shared) {
            // The user's tileset keeps all it holds; only the new tiles and the count are ours.
            TilesetDocument document(tilesetFile);
            for (std::int32_t id = known; id < index.Count(); ++id) {
                document.AppendTile(id, tiles[id - known], options.grid.Tile());
            }
            document.SetNumber("tilecount", index.Count());
            document.Save();
        } else if (!tileset.isEmpty()) {
            WriteCollectionTileset(path, options.grid.Tile(), tiles);
        }
    };
    const auto writeMap = [&](const QString& path, const QString& tilesetPath) {
        if (!options.map.isEmpty()) {
            map.Tileset = tilesetPath;
            WriteMapFile(path, map);
        }
    };
    staged.Commit([&](const QString& tiles) {
        WriteTileCount(tiles, next);
        WriteTileGrid(tiles, recordOf(options, 0));
        if (tilesetInside) {
            QStringList stagedTiles;
            for (const QString& file : newFiles) {
                stagedTiles += stagedPath(file);
            }
            writeTileset(stagedPath(tilesetFile), stagedTiles);
        }
        if (mapInside) {
            writeMap(stagedPath(mapFile), tilesetInside ? stagedPath(tilesetFile) : tileset);
        }
    });
    if (!tilesetInside) {
        writeTileset(tilesetFile, newFiles);
    }
    if (!mapInside) {
        writeMap(mapFile, tileset);
    }
    const UniqueSplitter::Counts& count = unique.Count();
    result.next = QString::number(next);
    result.read += source;
    result.tiles = TilesWritten{folder, options.start + std::int64_t{known}, count.stored, TileSuffix(options.format)};
    result.written += folder + "info.ini";
    for (const QString& written : {tileset, options.map}) {
        if (!written.isEmpty()) {
            result.written += written;
        }
    }
    result.Count(QStringLiteral("seen"), count.seen);
    result.Count(QStringLiteral("unique"), index.Count());
    result.Count(QStringLiteral("new"), count.stored);
    result.Count(QStringLiteral("flips"), count.flipped);
    result.Count(QStringLiteral("empty"), count.empty);
    result.Count(QStringLiteral("next"), next);
    result.seconds = static_cast<double>(timer.elapsed()) / 1000.0;
}
}  // namespace

SplitResult RunSplit(const SplitRequest& request) {
    return RunCommand<SplitResult>(QStringLiteral("split"), [&](SplitResult& result) {
        const TileOptions& options = request.options;
        result.way = !options.tiled ? SplitResult::Way::Window : options.unique ? SplitResult::Way::Level : SplitResult::Way::Grid;
        refuseOperands(request);
        if (result.way == SplitResult::Way::Window) {
            splitTheWindowsWay(request, result);
        } else if (result.way == SplitResult::Way::Level) {
            splitLevel(request, result);
        } else {
            splitByGrid(request, result);
        }
    });
}
