#include "commands/drawmap.h"

#include "imaging/apngwriter.h"
#include "imaging/picture.h"
#include "imaging/pngimagedata.h"
#include "imaging/picturesink.h"
#include "runtime/destination.h"
#include "runtime/limits.h"
#include "runtime/outputfiles.h"
#include "runtime/runtimeerror.h"
#include "tiled/mapfile.h"
#include "tiled/tiledfiles.h"
#include "tiled/tilesetreader.h"
#include "maps/maprenderer.h"
#include "maps/tileanimation.h"
#include "maps/worldrenderer.h"
#include "tiled/worldfile.h"
#include "ldtk/levelmap.h"
#include "maps/areasrenderer.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QPainter>

#include <unordered_map>

namespace {
// The largest animated picture: every frame is drawn whole (256 MiB of pixels).
constexpr std::int64_t MaxAnimatedPixels = std::int64_t{1} << 26;

// Refuses a name the map's picture cannot be written under. Only PNG and BMP are written, and
// a name that says another format would mislead every program that opens it.
void refusePictureName(const QString& name, bool formatGiven) {
    const QString suffix = QFileInfo(name).suffix().toLower();
    if (suffix == "png" || suffix == "bmp" || (suffix.isEmpty() && formatGiven)) {
        return;
    }
    if (suffix.isEmpty()) {
        throw Refused(QStringLiteral("a picture name without .png or .bmp says no format; add one or give --format"), name);
    }
    throw Refused(QStringLiteral("tilvex writes .png and .bmp pictures, not .%1").arg(suffix), name);
}

// An animated picture is an APNG named .png. GIF is refused: its frame times are hundredths
// of a second and its colours 256 with on-or-off transparency, so it cannot hold the frames
// or their times exactly.
void refuseAnimatedName(const DrawMapRequest& request) {
    const QString suffix = QFileInfo(request.destination).suffix().toLower();
    if (suffix == "gif") {
        throw Refused(QStringLiteral("--animate writes animated PNG (.png); GIF is not written: it times frames in hundredths "
                                     "of a second and holds 256 colours with on-or-off transparency, so the map's frames "
                                     "and their times would not be kept"), request.destination);
    }
    if (suffix != "png" || (request.options.FormatGiven() && request.options.format != TileFormat::Png)) {
        throw Refused(QStringLiteral("--animate writes an animated PNG: the picture's name must end in .png"), request.destination);
    }
}

// The picture's format: --format, else the name's.
TileFormat pictureFormat(const DrawMapRequest& request) {
    const QString& destination = request.destination;
    const bool png = destination.endsWith(".png", Qt::CaseInsensitive);
    const TileFormat named = png ? TileFormat::Png : TileFormat::Bmp;
    if (!request.options.FormatGiven()) {
        return named;
    }
    if (named != request.options.format && (png || destination.endsWith(".bmp", Qt::CaseInsensitive))) {
        throw Refused(QStringLiteral("--format %1 and a picture of another name").arg(request.options.formatText), destination);
    }
    return request.options.format;
}

// Every file the map is drawn from, which stays as it is.
void readsOf(const TiledMap& map, OutputFiles& outputs) {
    for (const TilesetRef& ref : map.tilesets) {
        outputs.Reads({ref.tileset->file, ref.tileset->image.source});
        for (const auto& [id, tile] : ref.tileset->tiles) {
            outputs.Reads({tile.image.source});
        }
    }
    ForEachLayer(map.layers, [&](const TiledLayer& layer) { outputs.Reads({layer.image.source}); });
    outputs.Reads(map.templates);
}

// Drawn rows as they are written: what the map leaves transparent shows the empty colour,
// or in a bitmap the background.
QImage finished(const QImage& drawn, std::optional<QRgb> emptyColour, TileFormat format) {
    QImage band = drawn;
    if (emptyColour || format == TileFormat::Bmp) {
        QImage under(band.size(), QImage::Format_ARGB32_Premultiplied);
        under.fill(QColor::fromRgb(emptyColour.value_or(Picture::Background().rgb())));
        QPainter painter(&under);
        painter.drawImage(0, 0, band);
        painter.end();
        band = under;
    }
    band = band.convertToFormat(QImage::Format_RGBA8888);
    return format == TileFormat::Png ? band : OpaqueRgb32(band);
}

MapRenderer::Options renderOptions(const DrawMapRequest& request) {
    MapRenderer::Options options{request.hidden, request.layers, 0, request.hide, request.scale, request.tileSize,
                                 request.fitSize, request.antialiasing, request.smoothing};
    options.animationTime = request.animationTime;
    return options;
}

// What every drawing reports: the file it read, the picture it wrote and its size.
void recordPicture(DrawMapResult& result, const QString& read, const QString& target, QSize size) {
    result.size = size;
    result.read += read;
    result.written += target;
    result.Count(QStringLiteral("width"), size.width());
    result.Count(QStringLiteral("height"), size.height());
}

// A map of any kind Tiled saves, drawn as Tiled draws it, a band at a time.
void drawTiledMap(const DrawMapRequest& request, const TiledMap& map, TileFormat format, DrawMapResult& result) {
    OutputFiles outputs({map.file});
    readsOf(map, outputs);
    const QString target = outputs.File(request.destination);
    outputs.RefuseInputs();
    MapRenderer renderer(map, renderOptions(request));
    const QSize size = renderer.PictureSize();
    // The picture is drawn and converted a band at a time while the band before is
    // compressed and written on helper threads.
    SinkOptions background;
    background.background = true;
    PictureSink out(target, size, format, background);
    int bandRows = BandRows(std::int64_t{4} * size.width(), 1);
    if (format == TileFormat::Png) {
        const int partRows = PngImageData::PartRows(size.width(), QImage::Format_RGBA8888);
        bandRows = std::max(1, bandRows / partRows) * partRows;
    }
    renderer.DrawBands(bandRows, [&](const QImage& drawn, int) {
        // A PNG takes the premultiplied band as drawn, made straight on the compressing helpers.
        out.WriteRows(request.options.emptyColour || format != TileFormat::Png ? finished(drawn, request.options.emptyColour, format) : drawn);
    });
    out.Commit();
    result.layersDrawn = renderer.LayersDrawn();
    recordPicture(result, map.file, target, size);
    result.Count(QStringLiteral("shapes"), renderer.ShapesDrawn());
    result.Count(QStringLiteral("tiles"), renderer.TilesDrawn());
}

// A picture drawn whole, written a band at a time.
void writePicture(const DrawMapRequest& request, const QImage& picture, const QString& target, TileFormat format) {
    const QSize size = picture.size();
    PictureSink out(target, size, format);
    const int bandRows = BandRows(std::int64_t{4} * size.width(), 1);
    for (int top = 0; top < size.height(); top += bandRows) {
        out.WriteRows(finished(picture.copy(0, top, size.width(), std::min(bandRows, size.height() - top)), request.options.emptyColour, format));
    }
    out.Commit();
}

// The levels of an LDtk project as the game shows them: one level (--level, or the only
// one), else its world's levels where its layout places them, deeper levels first.
// Entities are not drawn.
void drawProject(const DrawMapRequest& request, const QString& file, TileFormat format, DrawMapResult& result) {
    const LdtkProject project = LoadLdtkProject(file);
    std::vector<const LdtkLevel*> levels;
    if (!request.level.isEmpty()) {
        const LdtkLevel* level = project.Level(request.level);
        if (level == nullptr) {
            throw Refused(QStringLiteral("--level %1: the project has no level of that name").arg(request.level), request.map);
        }
        levels.push_back(level);
    } else if (project.worlds.size() > 1) {
        throw Refused(QStringLiteral("the project holds %1 worlds: choose a level with --level NAME").arg(project.worlds.size()), request.map);
    } else {
        for (const LdtkLevel& level : project.worlds.front().levels) {
            levels.push_back(&level);
        }
        std::stable_sort(levels.begin(), levels.end(), [](const LdtkLevel* a, const LdtkLevel* b) { return a->depth < b->depth; });
    }
    std::vector<MapArea> areas;
    OutputFiles outputs({file});
    std::int64_t entities = 0;
    LevelTilesets made;
    for (const LdtkLevel* level : levels) {
        TiledMap map = LevelMap(project, *level, &made);
        std::erase_if(map.layers, [](const TiledLayer& layer) { return layer.kind == LayerKind::Objects; });
        outputs.Reads({level->file});
        readsOf(map, outputs);
        areas.push_back({std::move(map), QRect(levels.size() == 1 ? QPoint(0, 0) : level->world, level->size)});
        entities += LevelEntities(*level);
    }
    const QString target = outputs.File(request.destination);
    outputs.RefuseInputs();
    AreasRenderer renderer(areas, renderOptions(request), file);
    writePicture(request, renderer.Draw(), target, format);
    result.layersDrawn = renderer.LayersDrawn();
    recordPicture(result, file, target, renderer.PictureSize());
    result.Count(QStringLiteral("levels"), static_cast<std::int64_t>(levels.size()));
    result.Count(QStringLiteral("tiles"), renderer.TilesDrawn());
    result.Count(QStringLiteral("entities"), entities);
}

// A world's maps at their positions in one picture, as tmxrasterizer draws a world.
void drawWorld(const DrawMapRequest& request, const QString& worldFile, TileFormat format, DrawMapResult& result) {
    const TiledWorld world = LoadWorld(worldFile);
    WorldRenderer renderer(world, renderOptions(request));
    OutputFiles outputs(renderer.Reads());
    const QString target = outputs.File(request.destination);
    outputs.RefuseInputs();
    const QSize size = renderer.PictureSize();
    writePicture(request, renderer.Draw(), target, format);
    result.layersDrawn = renderer.LayersDrawn();
    recordPicture(result, world.file, target, size);
    result.Count(QStringLiteral("maps"), static_cast<std::int64_t>(world.maps.size()));
    result.Count(QStringLiteral("shapes"), renderer.ShapesDrawn());
}

// The map over its whole loop as an animated PNG: a frame from each moment a tile changes,
// showing the picture Tiled shows from just after that moment until the next.
void drawAnimatedMap(const DrawMapRequest& request, const TiledMap& map, DrawMapResult& result) {
    OutputFiles outputs({map.file});
    readsOf(map, outputs);
    const QString target = outputs.File(request.destination);
    outputs.RefuseInputs();
    MapRenderer::Options options = renderOptions(request);
    const MapRenderer still(map, options);
    const QSize size = still.PictureSize();
    if (std::int64_t{size.width()} * size.height() > MaxAnimatedPixels) {
        throw Refused(QStringLiteral("--animate: the map makes a %1 picture, more than the %2 pixels of an animated picture")
                          .arg(SizeText(size)).arg(MaxAnimatedPixels), request.map);
    }
    const AnimationLoop loop = LoopOf(map, still.PlacedGids());
    if (loop.length == 0) {
        throw Refused(QStringLiteral("--animate: no tile the map shows is animated"), request.map);
    }
    std::vector<std::vector<ApngDelay>> delays;
    int count = 0;
    for (std::size_t k = 0; k < loop.starts.size(); ++k) {
        const std::int64_t end = k + 1 < loop.starts.size() ? loop.starts[k + 1] : loop.length;
        delays.push_back(ApngDelaysOf(end - loop.starts[k]));
        count += static_cast<int>(delays.back().size());
    }
    ApngWriter apng(target, size.width(), size.height(), count);
    std::int64_t tiles = 0;
    int layers = 0;
    for (std::size_t k = 0; k < loop.starts.size(); ++k) {
        // Tiled moves to a frame once its moment has passed.
        options.animationTime = loop.starts[k] + 1;
        MapRenderer renderer(map, options);
        const QImage frame = finished(renderer.Draw(), request.options.emptyColour, TileFormat::Png);
        tiles = renderer.TilesDrawn();
        layers = renderer.LayersDrawn();
        for (const ApngDelay& delay : delays[k]) {
            apng.AddFrame(frame, delay.num, delay.den);
        }
    }
    apng.Commit();
    result.layersDrawn = layers;
    result.frames = static_cast<int>(loop.starts.size());
    result.loop = loop.length;
    recordPicture(result, map.file, target, size);
    result.Count(QStringLiteral("frames"), result.frames);
    result.Count(QStringLiteral("loopMs"), loop.length);
    result.Count(QStringLiteral("tiles"), tiles);
}

// A map of the plain kind split writes, drawn by exact copies of its tiles.
void drawPlainMap(const DrawMapRequest& request, TileMap map, const QString& mapFile, TileFormat format, DrawMapResult& result) {
    const QString& tilesetName = request.options.tileset.isEmpty() ? map.Tileset : request.options.tileset;
    const QString tilesetFile = LinkTarget(tilesetName);
    const TilesetReader tileset(tilesetFile);
    if (map.Tile().isEmpty()) {
        map = map.WithTile(tileset.Tile());
    } else if (map.Tile() != tileset.Tile()) {
        throw Refused(QStringLiteral("the map's tiles are %1, its tileset's %2").arg(SizeText(map.Tile()), SizeText(tileset.Tile())),
                      request.map);
    }
    const QSize size = map.PictureSize();
    if (size.width() > Limits::PictureSide || size.height() > Limits::PictureSide) {
        throw Refused(QStringLiteral("the map makes a %1 picture, larger than %2 pixels a side").arg(SizeText(size)).arg(Limits::PictureSide),
                      request.map);
    }
    if (request.options.emptyColour) {
        map.Background = request.options.emptyColour;
    }
    OutputFiles outputs(QStringList{mapFile, tilesetFile} + tileset.Sources());
    const QString target = outputs.File(request.destination);
    outputs.RefuseInputs();
    // Only the tiles the map places are cut, in the order the map first places them, each
    // cell then naming its tile's place among them: a sheet of millions of small tiles costs
    // what the map shows, not what the sheet holds.
    std::vector<std::int32_t> used;
    std::unordered_map<std::int32_t, std::int32_t> places;
    std::int32_t last = -1, lastPlace = -1;
    for (int row = 0; row < map.Cells().height(); ++row) {
        for (int column = 0; column < map.Cells().width(); ++column) {
            MapCell& cell = map.At(column, row);
            if (cell.id < 0) {
                continue;
            }
            if (cell.id != last) {
                last = cell.id;
                lastPlace = places.try_emplace(cell.id, static_cast<std::int32_t>(used.size())).first->second;
                if (lastPlace == static_cast<std::int32_t>(used.size())) {
                    used.push_back(cell.id);
                }
            }
            cell.id = lastPlace;
        }
    }
    const QImage picture = map.Draw(tileset.LoadTiles(used), format);
    WriteTileImage(picture, size.width(), size.height(), format, ChooseFilters(picture, 0, picture.height()), target);
    result.plain = true;
    result.cells = map.Cells();
    result.tile = map.Tile();
    recordPicture(result, request.map, target, size);
    result.read += tilesetName;
    std::int64_t placed = 0;
    for (int row = 0; row < map.Cells().height(); ++row) {
        for (int column = 0; column < map.Cells().width(); ++column) {
            placed += map.At(column, row).id >= 0 ? 1 : 0;
        }
    }
    result.Count(QStringLiteral("tiles"), placed);
}
}  // namespace

DrawMapResult RunDrawMap(const DrawMapRequest& request) {
    QElapsedTimer timer;
    timer.start();
    DrawMapResult drawn = RunCommand<DrawMapResult>(QStringLiteral("compile"), [&](DrawMapResult& result) {
        if (request.destination.isEmpty()) {
            throw Refused(NoDestination);
        }
        if (!QFileInfo(request.map).isFile()) {
            throw Refused(QFileInfo::exists(request.map) ? QStringLiteral("is a folder, not a map") : QStringLiteral("no such map file"),
                          request.map);
        }
        if (request.animate) {
            refuseAnimatedName(request);
        } else {
            refusePictureName(request.destination, request.options.FormatGiven());
        }
        const TileFormat format = pictureFormat(request);
        const QString mapFile = LinkTarget(request.map);
        if (!request.level.isEmpty() && !IsLdtkName(request.map)) {
            throw Refused(QStringLiteral("--level names a level of an LDtk project (.ldtk)"), request.map);
        }
        if (IsLdtkName(request.map)) {
            if (request.animate) {
                throw Refused(QStringLiteral("--animate: an LDtk level holds no animations"), request.map);
            }
            if (!request.options.tileset.isEmpty()) {
                throw Refused(QStringLiteral("--tileset %1: the levels are drawn from the project's tilesets").arg(request.options.tileset),
                              request.map);
            }
            drawProject(request, mapFile, format, result);
            return;
        }
        if (IsWorldName(request.map)) {
            if (request.animate) {
                throw Refused(QStringLiteral("--animate draws one map, not a world"), request.map);
            }
            if (!request.options.tileset.isEmpty()) {
                throw Refused(QStringLiteral("--tileset %1: the maps of a world are drawn from their own tilesets").arg(request.options.tileset),
                              request.map);
            }
            drawWorld(request, mapFile, format, result);
            return;
        }
        if (request.animate) {
            if (request.map.endsWith(".csv", Qt::CaseInsensitive)) {
                throw Refused(QStringLiteral("--animate: a .csv map holds no animations"), request.map);
            }
            drawAnimatedMap(request, LoadMap(mapFile), result);
            return;
        }
        // Maps of the plain kind split writes are drawn by exact copies; every other map as
        // Tiled draws it.
        if (request.map.endsWith(".csv", Qt::CaseInsensitive)) {
            if (request.Drawing()) {
                throw Refused(QStringLiteral("a .csv map is drawn by exact copies of its tiles: its layers, scale and smoothing "
                                             "cannot be chosen"), request.map);
            }
            drawPlainMap(request, ReadMapFile(mapFile), mapFile, format, result);
            return;
        }
        const TiledMap tiled = LoadMap(mapFile);
        QString why;
        std::optional<TileMap> plain;
        if (!request.Drawing()) {
            plain = PlainTileMap(tiled, why);
        }
        if (!plain && !request.options.tileset.isEmpty()) {
            throw Refused(QStringLiteral("--tileset %1: the map is drawn from its own tilesets (%2)")
                              .arg(request.options.tileset, why.isEmpty() ? QStringLiteral("options of the drawing") : why),
                          request.map);
        }
        if (plain) {
            drawPlainMap(request, *plain, mapFile, format, result);
        } else {
            drawTiledMap(request, tiled, format, result);
        }
    });
    drawn.seconds = static_cast<double>(timer.elapsed()) / 1000.0;
    return drawn;
}
