#include "export/ldtkentities.h"

#include <algorithm>
#include <cmath>

namespace {
QPoint rounded(QPointF p) { return QPoint(static_cast<int>(std::lround(p.x())), static_cast<int>(std::lround(p.y()))); }

// LDtk's sizes start at one pixel.
QSize rounded(QSizeF s) {
    return QSize(std::max(1, static_cast<int>(std::lround(s.width()))), std::max(1, static_cast<int>(std::lround(s.height()))));
}

// Where a tile object's position lies on its tile, as Tiled aligns it on an orthogonal map.
QPointF alignment(const TiledTileset* tileset) {
    const QString a = tileset == nullptr ? QString() : tileset->objectAlignment;
    const double x = a.endsWith("left") || a == "left" ? 0 : a.endsWith("right") ? 1 : a == "unspecified" || a.isEmpty() ? 0 : 0.5;
    const double y = a.startsWith("top") ? 0 : a.startsWith("bottom") || a == "unspecified" || a.isEmpty() ? 1 : 0.5;
    return QPointF(x, y);
}

QJsonValue rect(const LdtkEntities::TilePlace& tile) {
    if (tile.tileset == 0) {
        return QJsonValue::Null;
    }
    return QJsonObject{{"tilesetUid", tile.tileset}, {"x", tile.rect.x()}, {"y", tile.rect.y()}, {"w", tile.rect.width()}, {"h", tile.rect.height()}};
}
}  // namespace

LdtkEntities::Entity LdtkEntities::Add(const TiledObject& object, const TiledTileset* tileset, TilePlace tile, int grid,
                                       const QString& colour, ExportCounts& counts) {
    Entity entity;
    entity.id = object.id;
    entity.properties = object.properties;
    QString render = QStringLiteral("Rectangle");
    QString kind = QStringLiteral("Rectangle");
    QPointF pivot(0, 0);
    QPointF at = object.position;
    QSizeF size = object.size;
    if (object.kind == ObjectKind::Tile) {
        kind = QStringLiteral("Tile");
        render = tile.tileset != 0 ? QStringLiteral("Tile") : render;
        pivot = alignment(tileset);
        size = size.isEmpty() ? QSizeF(tile.rect.size()) : size;
        entity.tileset = tile.tileset;
        entity.tile = tile.rect;
    } else if (object.kind == ObjectKind::Text) {
        kind = QStringLiteral("Text");
        if (std::none_of(entity.properties.begin(), entity.properties.end(), [](const TiledProperty& p) { return p.name == "text"; })) {
            entity.properties.push_back({QStringLiteral("text"), QString(), object.text.text});
        }
    } else if (object.shape == "point") {
        kind = QStringLiteral("Point");
        render = QStringLiteral("Cross");
        pivot = QPointF(0.5, 0.5);
        size = QSizeF(grid, grid);
    } else if (object.shape == "ellipse") {
        kind = render = QStringLiteral("Ellipse");
    } else if ((object.shape == "polygon" || object.shape == "polyline") && !object.points.empty()) {
        kind = object.shape == "polygon" ? QStringLiteral("Polygon") : QStringLiteral("Polyline");
        QPointF low = object.points.front(), high = low;
        for (const QPointF& p : object.points) {
            low = QPointF(std::min(low.x(), p.x()), std::min(low.y(), p.y()));
            high = QPointF(std::max(high.x(), p.x()), std::max(high.y(), p.y()));
        }
        at += low;
        size = QSizeF(high.x() - low.x(), high.y() - low.y());
        ++counts.outlinesLeftOut;
    }
    if (object.rotation != 0) {
        ++counts.rotationsLeftOut;
    }
    entity.px = rounded(at);
    entity.size = rounded(size);
    const QString wanted = LdtkCapitalized(!object.type.isEmpty() ? object.type : !object.name.isEmpty() ? object.name : kind);
    auto def = std::find_if(defs_.begin(), defs_.end(), [&](const Def& d) {
        return d.wanted.compare(wanted, Qt::CaseInsensitive) == 0 && d.render == render && d.pivot == pivot && d.tile.tileset == tile.tileset;
    });
    if (def == defs_.end()) {
        Def made;
        made.wanted = wanted;
        made.render = render;
        made.pivot = pivot;
        made.size = entity.size;
        made.colour = colour;
        made.tile = tile;
        def = defs_.insert(defs_.end(), std::move(made));
    }
    def->resizable = def->resizable || def->size != entity.size;
    def->fields.Add(entity.properties, counts);
    if (tile.tileset != 0) {
        def->fields.AddTile(tile.tileset);
    }
    entity.def = static_cast<int>(def - defs_.begin());
    ++counts.objects;
    return entity;
}

void LdtkEntities::Number(int& next, std::set<QString>& taken) {
    for (Def& def : defs_) {
        def.identifier = LdtkUnique(def.wanted, taken);
        def.uid = next++;
        def.fields.Number(next);
    }
}

QJsonArray LdtkEntities::Definitions() const {
    QJsonArray array;
    const QJsonValue none(QJsonValue::Null);
    for (const Def& def : defs_) {
        array.append(QJsonObject{{"identifier", def.identifier},
                                 {"uid", def.uid},
                                 {"tags", QJsonArray()},
                                 {"exportToToc", false},
                                 {"allowOutOfBounds", true},
                                 {"doc", none},
                                 {"width", def.size.width()},
                                 {"height", def.size.height()},
                                 {"resizableX", def.resizable},
                                 {"resizableY", def.resizable},
                                 {"minWidth", none},
                                 {"maxWidth", none},
                                 {"minHeight", none},
                                 {"maxHeight", none},
                                 {"keepAspectRatio", false},
                                 {"tileOpacity", 1},
                                 {"fillOpacity", 0.3},
                                 {"lineOpacity", 1},
                                 {"hollow", false},
                                 {"color", def.colour},
                                 {"renderMode", def.render},
                                 {"showName", true},
                                 {"tilesetId", def.tile.tileset != 0 ? QJsonValue(def.tile.tileset) : none},
                                 {"tileRenderMode", "Stretch"},
                                 {"tileRect", rect(def.tile)},
                                 {"uiTileRect", none},
                                 {"nineSliceBorders", QJsonArray()},
                                 {"maxCount", 0},
                                 {"limitScope", "PerLevel"},
                                 {"limitBehavior", "MoveLastOne"},
                                 {"pivotX", def.pivot.x()},
                                 {"pivotY", def.pivot.y()},
                                 {"fieldDefs", def.fields.Definitions()}});
    }
    return array;
}

QJsonObject LdtkEntities::Instance(const Entity& entity, int grid, QPoint world, const QString& iid, const LdtkFields::Context& context) const {
    const Def& def = defs_[static_cast<std::size_t>(entity.def)];
    LdtkFields::Context own = context;
    if (entity.tileset != 0) {
        own.tile = entity.tile;
    }
    // The cell LDtk reports: the one holding the pivot, a right or bottom pivot counted inside.
    const int cx = (entity.px.x() + (def.pivot.x() == 1 ? -1 : 0)) / grid;
    const int cy = (entity.px.y() + (def.pivot.y() == 1 ? -1 : 0)) / grid;
    return QJsonObject{{"__identifier", def.identifier},
                       {"__grid", QJsonArray{cx, cy}},
                       {"__pivot", QJsonArray{def.pivot.x(), def.pivot.y()}},
                       {"__tags", QJsonArray()},
                       {"__tile", entity.tileset != 0 ? rect({entity.tileset, entity.tile}) : rect(def.tile)},
                       {"__smartColor", def.colour},
                       {"iid", iid},
                       {"width", entity.size.width()},
                       {"height", entity.size.height()},
                       {"defUid", def.uid},
                       {"px", QJsonArray{entity.px.x(), entity.px.y()}},
                       {"fieldInstances", def.fields.Instances(entity.properties, own)},
                       {"__worldX", entity.px.x() + world.x()},
                       {"__worldY", entity.px.y() + world.y()}};
}
