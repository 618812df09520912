#include "ldtk/levelmap.h"

#include "imaging/asepritefile.h"
#include "imaging/picturefile.h"
#include "imaging/pngwriter.h"
#include "ldtk/tilelayers.h"
#include "runtime/wholefile.h"
#include "tiled/tiledvalues.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>

#include <algorithm>
#include <map>

namespace {
// The cell most tiles of the level sit on; LDtk's default where it places none.
int mapGrid(const LdtkLevel& level) {
    std::map<int, std::size_t> tiles;
    for (const LdtkLayer& layer : level.layers) {
        tiles[layer.grid] += layer.tiles.size() + 1;
    }
    int grid = 16;
    std::size_t most = 0;
    for (const auto& [size, count] : tiles) {
        if (count > most) {
            grid = size;
            most = count;
        }
    }
    return grid;
}

QString colourText(const QString& ldtk) {
    const QColor colour(ldtk);
    return colour.isValid() ? colour.name(QColor::HexArgb) : ldtk;
}

// The Tiled tilesets of the project that the level's tiles and entities use, by uid.
class Tilesets {
public:
    Tilesets(const LdtkProject& project, TiledMap& map, LevelTilesets& made) : project_(project), map_(map), made_(made) {}

    const TilesetRef& Of(const LdtkLevel& level, const LdtkLayer* layer, int uid) {
        const auto found = refs_.find(uid);
        if (found != refs_.end()) {
            return map_.tilesets[found->second];
        }
        const LdtkTileset* ldtk = project_.Tileset(uid);
        if (ldtk == nullptr) {
            LevelFailure(level, layer, QStringLiteral("tileset uid %1 is not defined").arg(uid));
        }
        if (ldtk->picture.isEmpty()) {
            LevelFailure(level, layer, QStringLiteral("tileset \"%1\" has no picture").arg(ldtk->identifier));
        }
        auto made = made_.byUid.find(uid);
        if (made == made_.byUid.end()) {
            made = made_.byUid.emplace(uid, newTileset(level, layer, *ldtk, project_.file)).first;
        }
        const std::uint32_t first = map_.tilesets.empty() ? 1u
                                                          : map_.tilesets.back().firstGid + static_cast<std::uint32_t>(map_.tilesets.back().tileset->IdLimit());
        map_.tilesets.push_back({first, made->second, false});
        refs_[uid] = map_.tilesets.size() - 1;
        return map_.tilesets.back();
    }

    // The gid of the tile whose top-left is src in the sheet.
    std::uint32_t Gid(const LdtkLevel& level, const LdtkLayer& layer, int uid, QPoint src) {
        const TilesetRef& ref = Of(level, &layer, uid);
        const TiledTileset& t = *ref.tileset;
        const int step = t.tile.width() + t.spacing;
        const int column = (src.x() - t.margin) / step, row = (src.y() - t.margin) / step;
        const int rows = t.columns == 0 ? 0 : t.tileCount / t.columns;
        if (src.x() < t.margin || src.y() < t.margin || column >= t.columns || row >= rows) {
            LevelFailure(level, &layer, QStringLiteral("a tile's src [%1,%2] lies outside tileset \"%3\" (%4 by %5 tiles)")
                                            .arg(src.x()).arg(src.y()).arg(t.name).arg(t.columns).arg(rows));
        }
        if ((src.x() - t.margin) % step != 0 || (src.y() - t.margin) % step != 0) {
            LevelFailure(level, &layer, QStringLiteral("a tile's src [%1,%2] is not on the grid of tileset \"%3\"").arg(src.x()).arg(src.y()).arg(t.name));
        }
        return ref.firstGid + static_cast<std::uint32_t>(row * t.columns + column);
    }

    // An entity's tile where it is one whole tile of a sheet; 0 otherwise (drawn as a rectangle).
    std::uint32_t TileGid(const LdtkLevel& level, const LdtkLayer& layer, const LdtkTileRect& tile) {
        const LdtkTileset* ldtk = project_.Tileset(tile.tilesetUid);
        if (ldtk == nullptr || ldtk->picture.isEmpty() || tile.rect.size() != QSize(ldtk->grid, ldtk->grid)) {
            return 0;
        }
        return Gid(level, layer, tile.tilesetUid, tile.rect.topLeft());
    }

private:
    static std::shared_ptr<TiledTileset> newTileset(const LdtkLevel& level, const LdtkLayer* layer, const LdtkTileset& ldtk, const QString& project) {
        auto tileset = std::make_shared<TiledTileset>();
        tileset->name = ldtk.identifier;
        tileset->tile = QSize(ldtk.grid, ldtk.grid);
        tileset->margin = ldtk.padding;
        tileset->spacing = ldtk.spacing;
        if (IsAsepriteName(ldtk.picture)) {
            // LDtk draws an Aseprite file's first frame; the map model takes it as an embedded PNG.
            if (!QFileInfo(ldtk.picture).isFile()) {
                LevelFailure(level, layer, QStringLiteral("the tileset picture %1 is missing").arg(ldtk.picture));
            }
            const QImage frame = DecodeAseprite(ldtk.picture, ReadWholeFile(ldtk.picture));
            tileset->image.data = EncodePng(frame.convertToFormat(QImage::Format_RGBA8888), PngFilters::Adaptive);
            tileset->image.size = frame.size();
        } else {
            tileset->image.source = ldtk.picture;
        }
        FinishTileset(project, *tileset);
        return tileset;
    }

    const LdtkProject& project_;
    TiledMap& map_;
    LevelTilesets& made_;
    std::map<int, std::size_t> refs_;
};

TiledProperty property(const LdtkField& field, const std::map<QString, int>& objects) {
    TiledProperty p{field.identifier, QString(), QString()};
    const QJsonValue& v = field.value;
    if (field.type == "Int" && v.isDouble()) {
        p = {field.identifier, QStringLiteral("int"), QString::number(v.toInteger())};
    } else if (field.type == "Float" && v.isDouble()) {
        p = {field.identifier, QStringLiteral("float"), QString::number(v.toDouble(), 'g', 17)};
    } else if (field.type == "Bool" && v.isBool()) {
        p = {field.identifier, QStringLiteral("bool"), v.toBool() ? QStringLiteral("true") : QStringLiteral("false")};
    } else if (field.type == "Color" && v.isString()) {
        p = {field.identifier, QStringLiteral("color"), colourText(v.toString())};
    } else if (field.type == "FilePath" && v.isString()) {
        p = {field.identifier, QStringLiteral("file"), v.toString()};
    } else if (field.type == "EntityRef" && v.isObject()) {
        const QString iid = v.toObject().value("entityIid").toString();
        const auto found = objects.find(iid);
        p = found == objects.end() ? TiledProperty{field.identifier, QString(), iid}
                                   : TiledProperty{field.identifier, QStringLiteral("object"), QString::number(found->second)};
    } else if (v.isString()) {  // String, Multilines, Enum(...)
        p.value = v.toString();
    } else if (v.isArray() || v.isObject()) {  // points and arrays as JSON text
        p.value = QString::fromUtf8(v.isArray() ? QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact)
                                                : QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
    } else if (!v.isNull() && !v.isUndefined()) {
        p.value = v.toVariant().toString();
    }
    return p;
}

TiledLayer entityLayer(const LdtkLevel& level, const LdtkLayer& ldtk, Tilesets& tilesets, const std::map<QString, int>& ids, int object,
                       int& id) {
    TiledLayer layer;
    layer.kind = LayerKind::Objects;
    layer.id = ++id;
    layer.name = ldtk.identifier;
    layer.visible = ldtk.visible;
    layer.opacity = ldtk.opacity;
    layer.offset = QPointF(ldtk.offset);
    layer.topDown = false;
    int next = object;
    for (const LdtkEntity& e : ldtk.entities) {
        TiledObject object;
        object.id = next++;
        object.type = e.identifier;
        object.size = QSizeF(e.size);
        object.position = QPointF(e.px) - QPointF(e.pivot.x() * e.size.width(), e.pivot.y() * e.size.height());
        if (const std::uint32_t gid = e.tile ? tilesets.TileGid(level, ldtk, *e.tile) : 0) {
            // A tile object hangs from its bottom-left corner.
            object.kind = ObjectKind::Tile;
            object.gid = gid;
            object.position.ry() += object.size.height();
        }
        object.properties.push_back({QStringLiteral("iid"), QString(), e.iid});
        if (!e.tags.isEmpty()) {
            object.properties.push_back({QStringLiteral("tags"), QString(), e.tags.join(',')});
        }
        for (const LdtkField& field : e.fields) {
            object.properties.push_back(property(field, ids));
        }
        layer.objects.push_back(std::move(object));
    }
    return layer;
}
}  // namespace

namespace {
// The background picture as LDtk places it: its crop, scaled, at its top-left corner. Unscaled
// and uncropped it is the picture itself; otherwise it is drawn into a picture of the level's size.
TiledLayer backgroundLayer(const LdtkLevel& level, int& id) {
    const LdtkBackground& bg = *level.picture;
    TiledLayer layer;
    layer.kind = LayerKind::Image;
    layer.id = ++id;
    layer.name = QStringLiteral("Background");
    if (!QFileInfo(bg.picture).isFile()) {
        LevelFailure(level, nullptr, QStringLiteral("the background picture %1 is missing").arg(bg.picture));
    }
    const QImage picture = LoadPicture(bg.picture);
    const QRectF whole(QPointF(0, 0), QSizeF(picture.size()));
    if (bg.scale == QPointF(1, 1) && (bg.crop == whole || bg.crop.isEmpty())) {
        layer.image.source = bg.picture;
        layer.image.size = picture.size();
        layer.offset = bg.topLeft;
        return layer;
    }
    QImage drawn(level.size, QImage::Format_ARGB32_Premultiplied);
    drawn.fill(Qt::transparent);
    {
        QPainter painter(&drawn);
        const QRectF crop = bg.crop.isEmpty() ? whole : bg.crop;
        painter.drawImage(QRectF(bg.topLeft, QSizeF(crop.width() * bg.scale.x(), crop.height() * bg.scale.y())), picture, crop);
    }
    layer.image.data = EncodePng(drawn.convertToFormat(QImage::Format_RGBA8888), PngFilters::Adaptive);
    layer.image.size = level.size;
    return layer;
}
}  // namespace

TiledMap LevelMap(const LdtkProject& project, const LdtkLevel& level, LevelTilesets* made) {
    TiledMap map;
    map.file = level.file;
    map.orientation = QStringLiteral("orthogonal");
    map.renderOrder = QStringLiteral("right-down");
    const int grid = mapGrid(level);
    map.tile = QSize(grid, grid);
    map.size = QSize((level.size.width() + grid - 1) / grid, (level.size.height() + grid - 1) / grid);
    map.background = level.background;
    int id = 0;
    // Entities are numbered as objects in the file's order; a reference finds the first of an iid.
    std::map<QString, int> objects;
    std::vector<int> firstObject;
    int count = 0;
    for (const LdtkLayer& layer : level.layers) {
        firstObject.push_back(count + 1);
        for (const LdtkEntity& e : layer.entities) {
            objects.emplace(e.iid, ++count);
        }
    }
    for (const LdtkField& field : level.fields) {
        map.properties.push_back(property(field, objects));
    }
    if (level.picture) {
        map.layers.push_back(backgroundLayer(level, id));
    }
    LevelTilesets own;
    LevelTilesets& shared = made != nullptr ? *made : own;
    Tilesets tilesets(project, map, shared);
    std::int64_t cells = 0;
    for (auto layer = level.layers.rbegin(); layer != level.layers.rend(); ++layer) {
        if (layer->type == LdtkLayerType::Entities) {
            const int first = firstObject[static_cast<std::size_t>(level.layers.rend() - layer - 1)];
            map.layers.push_back(entityLayer(level, *layer, tilesets, objects, first, id));
            continue;
        }
        if (std::any_of(layer->intGrid.begin(), layer->intGrid.end(), [](int value) { return value != 0; })) {
            IntGridValues(level, *layer, map, shared, cells, id);
        }
        if (layer->tiles.empty()) {
            continue;
        }
        if (layer->tilesetUid < 0) {
            LevelFailure(level, &*layer, QStringLiteral("its tiles name no tileset"));
        }
        const int side = tilesets.Of(level, &*layer, layer->tilesetUid).tileset->tile.width();
        TileLayers split(map, *layer, layer->identifier, layer->visible, cells);
        for (const LdtkTile& tile : layer->tiles) {
            split.Add(tile, tilesets.Gid(level, *layer, layer->tilesetUid, tile.src), side, level);
        }
        split.Into(map.layers, id);
    }
    return map;
}

std::int64_t LevelEntities(const LdtkLevel& level) {
    std::int64_t count = 0;
    for (const LdtkLayer& layer : level.layers) {
        count += static_cast<std::int64_t>(layer.entities.size());
    }
    return count;
}

QStringList TilesetsWithoutPicture(const LdtkProject& project) {
    QStringList names;
    for (const LdtkTileset& tileset : project.tilesets) {
        if (tileset.picture.isEmpty()) {
            names += tileset.identifier;
        }
    }
    return names;
}
