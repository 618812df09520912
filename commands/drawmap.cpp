#include "commands/drawmap.h"

#include "imaging/picture.h"
#include "imaging/picturesink.h"
#include "runtime/destination.h"
#include "runtime/limits.h"
#include "runtime/outputfiles.h"
#include "tiled/mapfile.h"
#include "tiled/tiledfiles.h"
#include "tiled/tilesetreader.h"
#include "maps/maprenderer.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QPainter>

namespace {
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

// The picture's format: --format, else the name's.
TileFormat pictureFormat(const DrawMapRequest& request) {
    const QString& destination = request.destination;
    const bool png = destination.endsWith(".png", Qt::CaseInsensitive);
    const TileFormat named = png ? TileFormat::Png : TileFormat::Bmp;
    if (!request.options.FormatGiven()) {
        return named;
    }
    if (named != request.options.format && (png || destination.endsWith(".bmp", Qt::CaseInsensitive))) {
        throw Refused(QStringLiteral("--format %1 and a picture named %2")
                          .arg(request.options.formatText, destination));
    }
    return request.options.format;
}

// A map of any kind Tiled saves, drawn as Tiled draws it, a band at a time.
void drawTiledMap(const DrawMapRequest& request, const TiledMap& map, TileFormat format, DrawMapResult& result) {
    // Every file the map is drawn from stays as it is.
    OutputFiles outputs({map.file});
    for (const TilesetRef& ref : map.tilesets) {
        outputs.Reads({ref.tileset->file, ref.tileset->image.source});
        for (const auto& [id, tile] : ref.tileset->tiles) {
            outputs.Reads({tile.image.source});
        }
    }
    ForEachLayer(map.layers, [&](const TiledLayer& layer) { outputs.Reads({layer.image.source}); });
    const QString target = outputs.File(request.destination);
    outputs.RefuseInputs();
    MapRenderer renderer(map, MapRenderer::Options{request.hidden, request.layers, request.hide, request.scale, request.tileSize,
                                                   request.fitSize, request.antialiasing, request.smoothing});
    const QSize size = renderer.PictureSize();
    PictureSink out(target, size, format);
    // The picture is drawn, converted and compressed a band at a time.
    const int bandRows = BandRows(std::int64_t{4} * size.width(), 1);
    const std::optional<QRgb> emptyColour = request.options.emptyColour;
    renderer.DrawBands(bandRows, [&](const QImage& drawn, int) {
        QImage band = drawn;
        if (emptyColour || format == TileFormat::Bmp) {
            // What the map leaves transparent shows the empty colour, or in a bitmap the background.
            QImage under(band.size(), QImage::Format_ARGB32_Premultiplied);
            under.fill(QColor::fromRgb(emptyColour.value_or(Picture::Background().rgb())));
            QPainter painter(&under);
            painter.drawImage(0, 0, band);
            painter.end();
            band = under;
        }
        band = band.convertToFormat(QImage::Format_RGBA8888);
        out.WriteRows(format == TileFormat::Png ? band : OpaqueRgb32(band));
    });
    out.Commit();
    result.size = size;
    result.layersDrawn = renderer.LayersDrawn();
    result.read += map.file;
    result.written += target;
    result.Count(QStringLiteral("width"), size.width());
    result.Count(QStringLiteral("height"), size.height());
    result.Count(QStringLiteral("objectsLeftOut"), renderer.ObjectsLeftOut());
}

// A map of the plain kind split writes, drawn by exact copies of its tiles.
void drawPlainMap(const DrawMapRequest& request, TileMap map, const QString& mapFile, TileFormat format, DrawMapResult& result) {
    const QString& tilesetName = request.options.tileset.isEmpty() ? map.Tileset : request.options.tileset;
    const QString tilesetFile = LinkTarget(tilesetName);
    const TilesetReader tileset(tilesetFile);
    if (map.Tile().isEmpty()) {
        map = map.WithTile(tileset.Tile());
    } else if (map.Tile() != tileset.Tile()) {
        throw Refused(QStringLiteral("the map's tiles are %1, its tileset's %2").arg(SizeText(map.Tile()), SizeText(tileset.Tile())));
    }
    const QSize size = map.PictureSize();
    if (size.width() > Limits::PictureSide || size.height() > Limits::PictureSide) {
        throw Refused(QStringLiteral("the map makes a %1 picture, larger than %2 pixels a side").arg(SizeText(size)).arg(Limits::PictureSide));
    }
    if (request.options.emptyColour) {
        map.Background = request.options.emptyColour;
    }
    OutputFiles outputs(QStringList{mapFile, tilesetFile} + tileset.Sources());
    const QString target = outputs.File(request.destination);
    outputs.RefuseInputs();
    const QImage picture = map.Draw(tileset.LoadTiles(), format);
    WriteTileImage(picture, size.width(), size.height(), format, ChooseFilters(picture, 0, picture.height()), target);
    result.plain = true;
    result.size = size;
    result.cells = map.Cells();
    result.tile = map.Tile();
    result.read += request.map;
    result.read += tilesetName;
    result.written += target;
    result.Count(QStringLiteral("width"), size.width());
    result.Count(QStringLiteral("height"), size.height());
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
        refusePictureName(request.destination, request.options.FormatGiven());
        const TileFormat format = pictureFormat(request);
        const QString mapFile = LinkTarget(request.map);
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
            throw Refused(QStringLiteral("--tileset %1: the map %2 is drawn from its own tilesets (%3)")
                              .arg(request.options.tileset, request.map, why.isEmpty() ? QStringLiteral("options of the drawing") : why));
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
