#include "tiled/tmjformat.h"

#include "runtime/limits.h"
#include "tiled/layerdata.h"
#include "tiled/templates.h"
#include "tiled/tiledfiles.h"
#include "tiled/tiledvalues.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

namespace {

// The JSON value as the text the XML form would hold, so both read through one check.
QString text(const QJsonValue& value) {
    if (value.isDouble()) {
        const double number = value.toDouble();
        return number == std::floor(number) && std::abs(number) < 1e15 ? QString::number(static_cast<qint64>(number))
                                                                       : QString::number(number, 'g', 17);
    }
    if (value.isBool()) {
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    }
    return value.toString();
}

int number(const QString& file, const QJsonObject& o, const char* key, int least, int most, int otherwise = 0) {
    return MapNumber(file, key, text(o.value(key)), least, most, otherwise);
}

double real(const QString& file, const QJsonObject& o, const char* key, double otherwise = 0.0) {
    return MapReal(file, key, text(o.value(key)), otherwise);
}

std::vector<TiledProperty> properties(const QJsonObject& o) {
    std::vector<TiledProperty> list;
    for (const QJsonValue& p : o.value("properties").toArray()) {
        const QJsonObject property = p.toObject();
        list.push_back({property.value("name").toString(), property.value("type").toString(), text(property.value("value"))});
    }
    return list;
}

TiledImage image(const QString& file, const QJsonObject& o, const char* key, const char* width, const char* height) {
    TiledImage result;
    if (o.value(key).toString().isEmpty()) {
        return result;
    }
    result.source = PathBeside(file, o.value(key).toString());
    result.size = QSize(number(file, o, width, 0, Limits::PictureSide), number(file, o, height, 0, Limits::PictureSide));
    if (const auto trans = MapColour(file, "transparentcolor", o.value("transparentcolor").toString())) {
        result.trans = trans->rgb();
    }
    return result;
}

std::vector<std::uint32_t> gids(const QString& file, const QJsonValue& data, const TiledLayer& layer, std::size_t cells) {
    if (data.isString()) {
        return DecodeLayerData(file, data.toString(), layer.encoding.isEmpty() ? QStringLiteral("base64") : layer.encoding,
                               layer.compression, cells);
    }
    const QJsonArray array = data.toArray();
    if (static_cast<std::size_t>(array.size()) != cells) {
        InvalidMapFile(file, QStringLiteral("layer \"%1\" holds %2 cells, not %3").arg(layer.name).arg(array.size()).arg(cells));
    }
    std::vector<std::uint32_t> list;
    list.reserve(cells);
    for (const QJsonValue& gid : array) {
        list.push_back(MapGid(file, text(gid)));
    }
    return list;
}

void commonLayer(const QString& file, const QJsonObject& o, TiledLayer& layer) {
    layer.id = number(file, o, "id", 0, 1 << 30);
    layer.name = o.value("name").toString();
    layer.className = o.value("class").toString();
    layer.visible = o.value("visible").toBool(true);
    layer.opacity = std::clamp(real(file, o, "opacity", 1.0), 0.0, 1.0);
    layer.offset = QPointF(real(file, o, "offsetx"), real(file, o, "offsety"));
    layer.tint = MapColour(file, "tintcolor", o.value("tintcolor").toString());
    layer.mode = o.value("mode").toString("normal");
    layer.properties = properties(o);
}

}  // namespace

TiledObject ReadTmjObject(const QString& file, const QJsonObject& o) {
    TiledObject result;
    result.id = number(file, o, "id", 0, 1 << 30);
    result.name = o.value("name").toString();
    result.type = o.contains("class") ? o.value("class").toString() : o.value("type").toString();
    result.position = QPointF(real(file, o, "x"), real(file, o, "y"));
    result.size = QSizeF(real(file, o, "width"), real(file, o, "height"));
    result.rotation = real(file, o, "rotation");
    result.visible = o.value("visible").toBool(true);
    result.opacity = std::clamp(real(file, o, "opacity", 1.0), 0.0, 1.0);
    result.gid = o.contains("gid") ? MapGid(file, text(o.value("gid"))) : 0;
    const bool shape = o.contains("text") || o.contains("ellipse") || o.contains("point") || o.contains("polygon") || o.contains("polyline");
    result.kind = result.gid != 0 ? ObjectKind::Tile : o.contains("text") ? ObjectKind::Text : ObjectKind::Shape;
    const std::pair<const char*, unsigned> given[] = {{"rotation", TiledObject::Rotation},
                                                      {"visible", TiledObject::Visible}, {"opacity", TiledObject::Opacity}};
    for (const auto& [key, bit] : given) {
        result.given |= o.contains(key) ? bit : 0u;
    }
    // As Tiled reads an instance: a name, class or size (both sides) of its own only where given.
    result.given |= (result.name.isEmpty() ? 0u : TiledObject::Name) | (result.type.isEmpty() ? 0u : TiledObject::Type) |
                    (result.size.isEmpty() ? 0u : TiledObject::Size) | (result.gid == 0 ? 0u : TiledObject::Gid);
    result.given |= (shape ? TiledObject::Shape : 0u) | (result.kind == ObjectKind::Text ? TiledObject::Text : 0u);
    if (o.contains("template")) {
        result.kind = ObjectKind::Template;
        result.templateFile = PathBeside(file, o.value("template").toString());
    }
    for (const char* shape : {"ellipse", "point"}) {
        if (o.value(shape).toBool()) {
            result.shape = QString::fromLatin1(shape);
        }
    }
    for (const char* shape : {"polygon", "polyline"}) {
        if (o.value(shape).isArray()) {
            result.shape = QString::fromLatin1(shape);
            for (const QJsonValue& point : o.value(shape).toArray()) {
                result.points.emplace_back(real(file, point.toObject(), "x"), real(file, point.toObject(), "y"));
            }
        }
    }
    if (o.value("text").isObject()) {
        const QJsonObject words = o.value("text").toObject();
        result.text = MapText(file, [&](const char* key) { return text(words.value(key)); }, words.value("text").toString());
    }
    result.properties = properties(o);
    return result;
}

namespace {
std::vector<TiledLayer> layers(const QString& file, const QJsonArray& array, bool infinite, int depth) {
    if (depth > 64) {
        InvalidMapFile(file, QStringLiteral("groups nested more than 64 deep"));
    }
    std::vector<TiledLayer> list;
    for (const QJsonValue& value : array) {
        const QJsonObject o = value.toObject();
        const QString type = o.value("type").toString();
        TiledLayer layer;
        commonLayer(file, o, layer);
        if (type == "tilelayer") {
            layer.kind = LayerKind::Tiles;
            layer.size = QSize(number(file, o, "width", 0, Limits::PictureSide), number(file, o, "height", 0, Limits::PictureSide));
            layer.encoding = o.value("encoding").toString();
            layer.compression = o.value("compression").toString();
            if (!infinite) {
                const std::size_t cells = LayerCells(file, layer.name, layer.size.width(), layer.size.height());
                layer.chunks.push_back({QRect(QPoint(0, 0), layer.size), gids(file, o.value("data"), layer, cells)});
            }
            std::size_t total = 0;
            for (const QJsonValue& c : infinite ? o.value("chunks").toArray() : QJsonArray()) {
                const QJsonObject chunk = c.toObject();
                const QRect area(number(file, chunk, "x", -Limits::PictureSide, Limits::PictureSide), number(file, chunk, "y", -Limits::PictureSide, Limits::PictureSide),
                                 number(file, chunk, "width", 0, Limits::PictureSide), number(file, chunk, "height", 0, Limits::PictureSide));
                const std::size_t cells = LayerCells(file, layer.name, area.width(), area.height());
                total += cells;
                LayerCells(file, layer.name, static_cast<qint64>(total), 1);
                layer.chunks.push_back({area, gids(file, chunk.value("data"), layer, cells)});
            }
        } else if (type == "objectgroup") {
            layer.kind = LayerKind::Objects;
            layer.topDown = o.value("draworder").toString("topdown") != "index";
            layer.colour = MapColour(file, "color", o.value("color").toString());
            for (const QJsonValue& item : o.value("objects").toArray()) {
                layer.objects.push_back(ReadTmjObject(file, item.toObject()));
            }
        } else if (type == "imagelayer") {
            layer.kind = LayerKind::Image;
            layer.image = image(file, o, "image", "imagewidth", "imageheight");
            layer.repeatX = o.value("repeatx").toBool();
            layer.repeatY = o.value("repeaty").toBool();
        } else if (type == "group") {
            layer.kind = LayerKind::Group;
            layer.layers = layers(file, o.value("layers").toArray(), infinite, depth + 1);
        } else {
            continue;
        }
        list.push_back(std::move(layer));
    }
    return list;
}
}  // namespace

QJsonObject ParseJsonObject(const QString& file, const QByteArray& bytes) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        InvalidMapFile(file, error.error != QJsonParseError::NoError ? error.errorString() : QStringLiteral("no JSON object"));
    }
    return document.object();
}

TiledTileset ReadTsjTileset(const QString& file, const QJsonObject& o) {
    TiledTileset tileset;
    tileset.name = o.value("name").toString();
    tileset.className = o.value("class").toString();
    tileset.tile = QSize(number(file, o, "tilewidth", 1, Limits::PictureSide), number(file, o, "tileheight", 1, Limits::PictureSide));
    tileset.margin = number(file, o, "margin", 0, Limits::PictureSide);
    tileset.spacing = number(file, o, "spacing", 0, Limits::PictureSide);
    tileset.columns = number(file, o, "columns", 0, Limits::PictureSide);
    tileset.tileCount = number(file, o, "tilecount", 0, static_cast<int>(Limits::TilesetTiles));
    tileset.objectAlignment = o.value("objectalignment").toString("unspecified");
    RenderSizeAndFill(file, o.value("tilerendersize").toString(), o.value("fillmode").toString(), tileset);
    tileset.properties = properties(o);
    tileset.image = image(file, o, "image", "imagewidth", "imageheight");
    const QJsonObject offset = o.value("tileoffset").toObject();
    tileset.tileOffset = QPoint(number(file, offset, "x", -Limits::PictureSide, Limits::PictureSide), number(file, offset, "y", -Limits::PictureSide, Limits::PictureSide));
    const QJsonObject t = o.value("transformations").toObject();
    tileset.flipHorizontally = t.value("hflip").toBool();
    tileset.flipVertically = t.value("vflip").toBool();
    tileset.rotate = t.value("rotate").toBool();
    tileset.preferUntransformed = t.value("preferuntransformed").toBool();
    for (const QJsonValue& value : o.value("tiles").toArray()) {
        const QJsonObject item = value.toObject();
        TiledTile tile;
        tile.id = number(file, item, "id", 0, Limits::TileId);
        tile.type = item.contains("class") ? item.value("class").toString() : item.value("type").toString();
        tile.properties = properties(item);
        tile.probability = real(file, item, "probability", 1.0);
        tile.image = image(file, item, "image", "imagewidth", "imageheight");
        tile.imageRect = ImageRect(file, text(item.value("x")), text(item.value("y")), text(item.value("width")), text(item.value("height")));
        for (const QJsonValue& object : item.value("objectgroup").toObject().value("objects").toArray()) {
            ++tile.collisionObjects;
            tile.collision.push_back(ReadTmjObject(file, object.toObject()));
        }
        for (const QJsonValue& frame : item.value("animation").toArray()) {
            tile.animation.push_back({number(file, frame.toObject(), "tileid", 0, Limits::TileId),
                                      number(file, frame.toObject(), "duration", 0, 1 << 30)});
        }
        AddTile(file, tileset, std::move(tile));
    }
    for (const QJsonValue& value : o.value("wangsets").toArray()) {
        TiledWangSet wang{value.toObject().value("name").toString(), {}};
        for (const QJsonValue& w : value.toObject().value("wangtiles").toArray()) {
            wang.tileIds.push_back(number(file, w.toObject(), "tileid", 0, Limits::TileId));
        }
        tileset.wangSets.push_back(std::move(wang));
    }
    FinishTileset(file, tileset);
    return tileset;
}

TiledMap ReadTmjMap(const QString& file, const QJsonObject& root, bool tilesets) {
    if (root.value("type").toString("map") != "map") {
        InvalidMapFile(file, QStringLiteral("no map"));
    }
    TiledMap map;
    map.file = file;
    map.orientation = root.value("orientation").toString("orthogonal");
    map.renderOrder = root.value("renderorder").toString("right-down");
    map.className = root.value("class").toString();
    map.staggerAxis = root.value("staggeraxis").toString("y");
    map.staggerIndex = root.value("staggerindex").toString("odd");
    map.hexSideLength = number(file, root, "hexsidelength", 0, Limits::PictureSide);
    map.skewX = number(file, root, "skewx", -Limits::PictureSide, Limits::PictureSide);
    map.skewY = number(file, root, "skewy", -Limits::PictureSide, Limits::PictureSide);
    map.size = QSize(number(file, root, "width", 0, Limits::PictureSide), number(file, root, "height", 0, Limits::PictureSide));
    map.tile = QSize(number(file, root, "tilewidth", 1, Limits::PictureSide), number(file, root, "tileheight", 1, Limits::PictureSide));
    map.infinite = root.value("infinite").toBool();
    map.background = MapColour(file, "backgroundcolor", root.value("backgroundcolor").toString());
    map.properties = properties(root);
    for (const QJsonValue& value : root.value("tilesets").toArray()) {
        const QJsonObject o = value.toObject();
        TilesetRef ref;
        ref.firstGid = static_cast<std::uint32_t>(number(file, o, "firstgid", 1, static_cast<int>(GidFlag::Tile)));
        ref.tileset = std::make_shared<TiledTileset>(o.contains("source") ? LoadTilesetOf(file, o.value("source").toString(), tilesets)
                                                                          : ReadTsjTileset(file, o));
        map.tilesets.push_back(std::move(ref));
    }
    map.layers = layers(file, root.value("layers").toArray(), map.infinite, 0);
    CheckMapGids(map);
    ResolveTemplates(map, tilesets);
    return map;
}
