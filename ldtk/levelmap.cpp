#include "ldtk/levelmap.h"

#include "imaging/asepritefile.h"
#include "imaging/picturefile.h"
#include "imaging/pngwriter.h"
#include "runtime/limits.h"
#include "runtime/wholefile.h"
#include "tiled/tiledvalues.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <map>

namespace {
// All the Tiled tile layers one level may need, in cells: a layer's tiles stacked or at many
// alphas or offsets each take a layer of the map's size.
constexpr std::int64_t MaxMapCells = Limits::LayerCells * 4;

[[noreturn]] void fail(const LdtkLevel& level, const LdtkLayer* layer, const QString& reason) {
    const QString where = layer == nullptr ? QStringLiteral("level \"%1\"").arg(level.identifier)
                                           : QStringLiteral("level \"%1\" layer \"%2\"").arg(level.identifier, layer->identifier);
    InvalidMapFile(level.file, where + QStringLiteral(": ") + reason);
}

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
    Tilesets(const LdtkProject& project, TiledMap& map, AsepriteSheets& decoded) : project_(project), map_(map), decoded_(decoded) {}

    const TilesetRef& Of(const LdtkLevel& level, const LdtkLayer* layer, int uid) {
        const auto found = refs_.find(uid);
        if (found != refs_.end()) {
            return map_.tilesets[found->second];
        }
        const LdtkTileset* ldtk = project_.Tileset(uid);
        if (ldtk == nullptr) {
            fail(level, layer, QStringLiteral("tileset uid %1 is not defined").arg(uid));
        }
        if (ldtk->picture.isEmpty()) {
            fail(level, layer, QStringLiteral("tileset \"%1\" has no picture").arg(ldtk->identifier));
        }
        auto tileset = std::make_shared<TiledTileset>();
        tileset->name = ldtk->identifier;
        tileset->tile = QSize(ldtk->grid, ldtk->grid);
        tileset->margin = ldtk->padding;
        tileset->spacing = ldtk->spacing;
        if (IsAsepriteName(ldtk->picture)) {
            // LDtk draws an Aseprite file's first frame; the map model takes it as an embedded PNG.
            if (!QFileInfo(ldtk->picture).isFile()) {
                fail(level, layer, QStringLiteral("the tileset picture %1 is missing").arg(ldtk->picture));
            }
            auto known = decoded_.find(ldtk->picture);
            if (known == decoded_.end()) {
                const QImage frame = DecodeAseprite(ldtk->picture, ReadWholeFile(ldtk->picture));
                TiledImage image;
                image.data = EncodePng(frame.convertToFormat(QImage::Format_RGBA8888), PngFilters::Adaptive);
                image.size = frame.size();
                known = decoded_.emplace(ldtk->picture, std::move(image)).first;
            }
            tileset->image = known->second;
        } else {
            tileset->image.source = ldtk->picture;
        }
        FinishTileset(project_.file, *tileset);
        const std::uint32_t first = map_.tilesets.empty() ? 1u
                                                          : map_.tilesets.back().firstGid + static_cast<std::uint32_t>(map_.tilesets.back().tileset->IdLimit());
        map_.tilesets.push_back({first, tileset, false});
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
            fail(level, &layer, QStringLiteral("a tile's src [%1,%2] lies outside tileset \"%3\" (%4 by %5 tiles)")
                                    .arg(src.x()).arg(src.y()).arg(t.name).arg(t.columns).arg(rows));
        }
        if ((src.x() - t.margin) % step != 0 || (src.y() - t.margin) % step != 0) {
            fail(level, &layer, QStringLiteral("a tile's src [%1,%2] is not on the grid of tileset \"%3\"").arg(src.x()).arg(src.y()).arg(t.name));
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
    const LdtkProject& project_;
    TiledMap& map_;
    AsepriteSheets& decoded_;
    std::map<int, std::size_t> refs_;
};

// One LDtk tile layer as Tiled tile layers. A tile goes to the lowest layer above every layer
// holding an earlier tile it overlaps, among those of its alpha and offset whose cell is free,
// so the layers draw the tiles in LDtk's order wherever they overlap.
class TileLayers {
public:
    TileLayers(const TiledMap& map, const LdtkLayer& ldtk, QString name, bool visible, std::int64_t& cells)
        : map_(map), ldtk_(ldtk), name_(std::move(name)), visible_(visible), cells_(cells),
          top_(static_cast<std::size_t>(map.size.width()) * map.size.height(), -1) {}

    void Add(const LdtkTile& tile, std::uint32_t gid, int side, const LdtkLevel& level) {
        const int g = map_.tile.width();
        const int columns = map_.size.width(), rows = map_.size.height();
        // Tiled puts a tile's bottom-left corner on its cell's; LDtk its top-left on px.
        const int anchorY = tile.px.y() + side - g;
        const int column = std::clamp(floorDiv(tile.px.x(), g), 0, columns - 1);
        const int row = std::clamp(floorDiv(anchorY, g), 0, rows - 1);
        const QPoint offset(tile.px.x() - column * g, anchorY - row * g);
        const QRect covered = coveredCells(QRect(tile.px, QSize(side, side)));
        int below = -1;
        for (int y = covered.top(); y <= covered.bottom(); ++y) {
            for (int x = covered.left(); x <= covered.right(); ++x) {
                below = std::max(below, top_[index(x, y)]);
            }
        }
        const std::size_t cell = index(column, row);
        std::size_t into = static_cast<std::size_t>(below + 1);
        while (into < layers_.size() && (layers_[into].alpha != tile.alpha || layers_[into].offset != offset || layers_[into].gids[cell] != 0)) {
            ++into;
        }
        if (into == layers_.size()) {
            cells_ += static_cast<std::int64_t>(top_.size());
            if (cells_ > MaxMapCells) {
                fail(level, &ldtk_, QStringLiteral("its tiles need Tiled layers of more than %1 cells together").arg(MaxMapCells));
            }
            layers_.push_back({tile.alpha, offset, std::vector<std::uint32_t>(top_.size(), 0)});
        }
        layers_[into].gids[cell] = gid | ((tile.flips & 1) != 0 ? GidFlag::Horizontal : 0u) | ((tile.flips & 2) != 0 ? GidFlag::Vertical : 0u);
        for (int y = covered.top(); y <= covered.bottom(); ++y) {
            for (int x = covered.left(); x <= covered.right(); ++x) {
                top_[index(x, y)] = std::max(top_[index(x, y)], static_cast<int>(into));
            }
        }
    }

    void Into(std::vector<TiledLayer>& layers, int& id) const {
        for (std::size_t k = 0; k < layers_.size(); ++k) {
            TiledLayer layer;
            layer.kind = LayerKind::Tiles;
            layer.id = ++id;
            layer.name = k == 0 ? name_ : QStringLiteral("%1 %2").arg(name_).arg(k + 1);
            layer.visible = visible_;
            layer.opacity = ldtk_.opacity * layers_[k].alpha;
            layer.offset = QPointF(ldtk_.offset + layers_[k].offset);
            layer.size = map_.size;
            layer.encoding = QStringLiteral("csv");
            layer.chunks.push_back({QRect(QPoint(0, 0), map_.size), layers_[k].gids});
            layers.push_back(std::move(layer));
        }
    }

private:
    struct Layer {
        double alpha;
        QPoint offset;
        std::vector<std::uint32_t> gids;
    };

    static int floorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
    std::size_t index(int x, int y) const { return static_cast<std::size_t>(y) * map_.size.width() + x; }
    QRect coveredCells(const QRect& pixels) const {
        const int g = map_.tile.width();
        const int right = map_.size.width() - 1, bottom = map_.size.height() - 1;
        return QRect(QPoint(std::clamp(floorDiv(pixels.left(), g), 0, right), std::clamp(floorDiv(pixels.top(), g), 0, bottom)),
                     QPoint(std::clamp(floorDiv(pixels.right(), g), 0, right), std::clamp(floorDiv(pixels.bottom(), g), 0, bottom)));
    }

    const TiledMap& map_;
    const LdtkLayer& ldtk_;
    QString name_;
    bool visible_;
    std::int64_t& cells_;
    std::vector<int> top_;  // per cell: the highest layer holding a tile over it
    std::vector<Layer> layers_;
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
        fail(level, nullptr, QStringLiteral("the background picture %1 is missing").arg(bg.picture));
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

namespace {
// An IntGrid layer's values as a hidden tile layer over a tileset of one flat tile per value
// in its colour, each tile with the value and its identifier as properties.
void intGridValues(const LdtkLevel& level, const LdtkLayer& ldtk, TiledMap& map, std::int64_t& cells, int& id) {
    const int grid = ldtk.grid;
    const std::int64_t count = static_cast<std::int64_t>(ldtk.values.size());
    if (count * grid * grid > Limits::LayerCells) {
        fail(level, &ldtk, QStringLiteral("%1 IntGrid values of %2 pixels make too large a tileset").arg(count).arg(grid));
    }
    auto tileset = std::make_shared<TiledTileset>();
    tileset->name = ldtk.identifier + QStringLiteral("_values");
    tileset->tile = QSize(grid, grid);
    QImage sheet(static_cast<int>(count) * grid, grid, QImage::Format_RGBA8888);
    std::map<int, int> index;
    for (int k = 0; k < static_cast<int>(count); ++k) {
        const LdtkIntGridValue& value = ldtk.values[static_cast<std::size_t>(k)];
        for (int y = 0; y < grid; ++y) {
            for (int x = 0; x < grid; ++x) {
                sheet.setPixelColor(k * grid + x, y, value.colour);
            }
        }
        TiledTile tile;
        tile.id = k;
        tile.properties = {{QStringLiteral("value"), QStringLiteral("int"), QString::number(value.value)},
                           {QStringLiteral("identifier"), QString(), value.identifier}};
        tileset->tiles[k] = tile;
        index.emplace(value.value, k);
    }
    tileset->image.data = EncodePng(sheet, PngFilters::Adaptive);
    tileset->image.size = sheet.size();
    tileset->columns = static_cast<int>(count);
    tileset->tileCount = static_cast<int>(count);
    const std::uint32_t first = map.tilesets.empty() ? 1u
                                                     : map.tilesets.back().firstGid + static_cast<std::uint32_t>(map.tilesets.back().tileset->IdLimit());
    map.tilesets.push_back({first, tileset, false});
    TileLayers split(map, ldtk, ldtk.identifier + QStringLiteral(" values"), false, cells);
    for (std::size_t cell = 0; cell < ldtk.intGrid.size(); ++cell) {
        const int value = ldtk.intGrid[cell];
        if (value == 0) {
            continue;
        }
        const auto found = index.find(value);
        if (found == index.end()) {
            fail(level, &ldtk, QStringLiteral("IntGrid value %1 is not defined").arg(value));
        }
        const int column = static_cast<int>(cell % static_cast<std::size_t>(ldtk.cells.width()));
        const int row = static_cast<int>(cell / static_cast<std::size_t>(ldtk.cells.width()));
        split.Add({QPoint(column * grid, row * grid), QPoint(), 0, 1.0}, first + static_cast<std::uint32_t>(found->second), grid, level);
    }
    split.Into(map.layers, id);
}
}  // namespace

TiledMap LevelMap(const LdtkProject& project, const LdtkLevel& level, AsepriteSheets* decoded) {
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
    AsepriteSheets own;
    Tilesets tilesets(project, map, decoded != nullptr ? *decoded : own);
    std::int64_t cells = 0;
    for (auto layer = level.layers.rbegin(); layer != level.layers.rend(); ++layer) {
        if (layer->type == LdtkLayerType::Entities) {
            const int first = firstObject[static_cast<std::size_t>(level.layers.rend() - layer - 1)];
            map.layers.push_back(entityLayer(level, *layer, tilesets, objects, first, id));
            continue;
        }
        if (std::any_of(layer->intGrid.begin(), layer->intGrid.end(), [](int value) { return value != 0; })) {
            intGridValues(level, *layer, map, cells, id);
        }
        if (layer->tiles.empty()) {
            continue;
        }
        if (layer->tilesetUid < 0) {
            fail(level, &*layer, QStringLiteral("its tiles name no tileset"));
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
