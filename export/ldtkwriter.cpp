#include "export/ldtkwriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUuid>

#include <algorithm>
#include <cmath>
#include <set>

namespace {
// An identifier as LDtk takes it (letters, digits and '_', no digit first), capitalized as
// its default style does.
QString identifier(const QString& name) {
    QString plain = name;
    plain.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_]+")), QStringLiteral("_"));
    if (plain.isEmpty() || plain[0].isDigit()) {
        plain.prepend('_');
    }
    plain[0] = plain[0].toUpper();
    return plain;
}

QString unique(const QString& wanted, std::set<QString>& taken) {
    QString name = wanted;
    for (int n = 2; !taken.insert(name.toLower()).second; ++n) {
        name = QStringLiteral("%1_%2").arg(wanted).arg(n);
    }
    return name;
}

// Iids that stay the same from one export of the same maps to the next.
QString iid(const QString& what) {
    static const QUuid space(QStringLiteral("{6f1f3c52-7d0e-4c4e-9a55-2f1e0c8d4b11}"));
    return QUuid::createUuidV5(space, what).toString(QUuid::WithoutBraces);
}

QString colour(const QColor& c) { return c.name(QColor::HexRgb).toUpper(); }

// A tile layer with what its groups add: offset, opacity and visibility.
struct Flat {
    const TiledLayer* layer;
    QPointF offset;
    double opacity;
    bool visible;
};

void flatten(const std::vector<TiledLayer>& list, QPointF offset, double opacity, bool visible, std::vector<Flat>& into,
             ExportCounts& counts) {
    for (const TiledLayer& layer : list) {
        const QPointF at = offset + layer.offset;
        if (layer.kind == LayerKind::Group) {
            flatten(layer.layers, at, opacity * layer.opacity, visible && layer.visible, into, counts);
        } else if (layer.kind == LayerKind::Tiles) {
            into.push_back({&layer, at, opacity * layer.opacity, visible && layer.visible});
        } else if (layer.kind == LayerKind::Objects) {
            counts.objectsLeftOut += static_cast<std::int64_t>(layer.objects.size());
        } else {
            ++counts.layersLeftOut;
        }
    }
}
}  // namespace

QString LdtkRefusal(const TiledMap& map, const ExportSheets& sheets) {
    const int grid = map.tile.width();
    QString refusal;
    ForEachLayer(map.layers, [&](const TiledLayer& layer) {
        for (const TiledChunk& chunk : layer.chunks) {
            std::uint32_t last = 0;
            for (const std::uint32_t gid : chunk.gids) {
                if (GidTile(gid) == last || !refusal.isEmpty()) {
                    continue;
                }
                last = GidTile(gid);
                const ExportSheets::Place place = sheets.Of(map, gid);
                if (place.sheet < 0) {
                    continue;
                }
                const QSize tile = sheets.Sheets()[static_cast<std::size_t>(place.sheet)].tile;
                if (tile != QSize(grid, grid) || map.tile.height() != grid) {
                    refusal = QStringLiteral("the tileset %1 has tiles of %2x%3 pixels on a grid of %4x%5; LDtk holds only square tiles "
                                             "of the layer's grid size")
                                  .arg(map.TilesetOf(last)->tileset->name)
                                  .arg(tile.width())
                                  .arg(tile.height())
                                  .arg(map.tile.width())
                                  .arg(map.tile.height());
                }
            }
        }
    });
    return refusal;
}

int LdtkWriter::defFor(const QString& name, int grid, int sheet, double opacity) {
    for (std::size_t k = 0; k < defs_.size(); ++k) {
        const LayerDef& def = defs_[k];
        if (def.identifier == name && def.grid == grid && def.sheet == sheet && def.opacity == opacity) {
            return static_cast<int>(k);
        }
    }
    defs_.push_back({name, grid, sheet, opacity});
    return static_cast<int>(defs_.size()) - 1;
}

int LdtkWriter::transposed(int sheet, int index) {
    const auto found = transposed_.find({sheet, index});
    if (found != transposed_.end()) {
        return found->second;
    }
    const QImage& tile = sheets_.Tile(sheet, index);
    QImage copy(tile.height(), tile.width(), QImage::Format_RGBA8888);
    copy.fill(Qt::transparent);
    for (int y = 0; y < tile.height(); ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(tile.constScanLine(y));
        for (int x = 0; x < tile.width(); ++x) {
            reinterpret_cast<std::uint32_t*>(copy.scanLine(x))[y] = row[x];
        }
    }
    return transposed_[{sheet, index}] = sheets_.Append(sheet, copy);
}

void LdtkWriter::Level(const TiledMap& map, const QString& name, ExportCounts& counts) {
    const int grid = map.tile.width();
    std::vector<Flat> flat;
    flatten(map.layers, QPointF(), 1.0, true, flat, counts);
    LevelData level;
    level.identifier = name;
    level.pixels = QSize(map.size.width() * grid, map.size.height() * map.tile.height());
    level.grid = grid;
    level.background = map.background ? colour(*map.background) : QString();
    std::vector<int> parts;  // this map's layer definitions, top-most first
    for (auto flatLayer = flat.rbegin(); flatLayer != flat.rend(); ++flatLayer) {
        const TiledLayer& layer = *flatLayer->layer;
        std::vector<std::pair<int, Instance>> bySheet;  // in the order the sheets are first met
        sheets_.ForEachPlaced(map, layer, [&](QPoint cell, std::uint32_t gid, ExportSheets::Place place) {
            const bool diagonal = (gid & GidFlag::Diagonal) != 0;
            const Tile tile{cell.x(), cell.y(), place.sheet, diagonal ? transposed(place.sheet, place.index) : place.index,
                            ((gid & GidFlag::Horizontal) ? 1 : 0) | ((gid & GidFlag::Vertical) ? 2 : 0)};
            auto part = std::find_if(bySheet.begin(), bySheet.end(), [&](const auto& p) { return p.first == place.sheet; });
            if (part == bySheet.end()) {
                part = bySheet.insert(bySheet.end(), {place.sheet, Instance{}});
            }
            part->second.tiles.push_back(tile);
            ++counts.tiles;
        });
        if (bySheet.empty()) {
            bySheet.push_back({-1, Instance{}});
        }
        ++counts.layers;
        for (auto& [sheet, instance] : bySheet) {
            QString named = identifier(layer.name);
            if (bySheet.size() > 1) {
                named += '_' + identifier(sheets_.Sheets()[static_cast<std::size_t>(sheet)].name);
            }
            const int def = defFor(named, grid, sheet, flatLayer->opacity);
            instance.visible = flatLayer->visible;
            instance.offset = QPoint(static_cast<int>(std::lround(flatLayer->offset.x())), static_cast<int>(std::lround(flatLayer->offset.y())));
            if (level.instances.count(def) > 0) {
                // A second layer of the same name, grid, sheet and opacity: a definition of its own.
                defs_.push_back({named, grid, sheet, flatLayer->opacity});
                level.instances[static_cast<int>(defs_.size()) - 1] = std::move(instance);
                parts.push_back(static_cast<int>(defs_.size()) - 1);
            } else {
                level.instances[def] = std::move(instance);
                parts.push_back(def);
            }
        }
    }
    // Every level lists every layer definition in one order: this map's order merged in.
    std::size_t at = 0;
    for (int& def : parts) {
        auto found = std::find(order_.begin(), order_.end(), def);
        if (found != order_.end() && static_cast<std::size_t>(found - order_.begin()) < at) {
            // Listed above a layer this map draws over it: a definition of its own, in place.
            Instance instance = std::move(level.instances[def]);
            level.instances.erase(def);
            const LayerDef copy = defs_[static_cast<std::size_t>(def)];
            defs_.push_back(copy);
            def = static_cast<int>(defs_.size()) - 1;
            level.instances[def] = std::move(instance);
            found = order_.end();
        }
        if (found == order_.end()) {
            order_.insert(order_.begin() + static_cast<std::ptrdiff_t>(at), def);
            ++at;
        } else {
            at = std::max(at, static_cast<std::size_t>(found - order_.begin()) + 1);
        }
    }
    levels_.push_back(std::move(level));
}

QJsonObject LdtkWriter::instanceJson(const LevelData& level, int levelUid, int def, const QString& name, const Instance& instance) const {
    const LayerDef& d = defs_[static_cast<std::size_t>(def)];
    const int columns = (level.pixels.width() + d.grid - 1) / d.grid;
    QJsonArray tiles;
    for (const Tile& tile : instance.tiles) {
        const TileGrid grid = sheets_.Grid(tile.sheet);
        const int sheetColumns = sheets_.Sheets()[static_cast<std::size_t>(tile.sheet)].columns;
        const QRect source = grid.Cell(tile.index % sheetColumns, tile.index / sheetColumns);
        // LDtk's tile id: the cell in its own reading of the sheet, as wide as it computes.
        const int ldtkColumns = (sheets_.SheetSize(tile.sheet).width() - 2 * grid.Margin() + d.grid + grid.Spacing() - 1) / (d.grid + grid.Spacing());
        tiles.append(QJsonObject{{"px", QJsonArray{tile.x * d.grid, tile.y * d.grid}},
                                 {"src", QJsonArray{source.x(), source.y()}},
                                 {"f", tile.flips},
                                 {"t", tile.index % sheetColumns + tile.index / sheetColumns * ldtkColumns},
                                 {"d", QJsonArray{tile.x + tile.y * columns}},
                                 {"a", 1}});
    }
    const QJsonValue tileset = d.sheet < 0 ? QJsonValue() : QJsonValue(d.sheet + 1);
    const int defUid = static_cast<int>(sheets_.Sheets().size()) + def + 1;
    return QJsonObject{{"__identifier", name},
                       {"__type", "Tiles"},
                       {"__cWid", columns},
                       {"__cHei", (level.pixels.height() + d.grid - 1) / d.grid},
                       {"__gridSize", d.grid},
                       {"__opacity", d.opacity},
                       {"__pxTotalOffsetX", instance.offset.x()},
                       {"__pxTotalOffsetY", instance.offset.y()},
                       {"__tilesetDefUid", tileset},
                       {"__tilesetRelPath", d.sheet < 0 ? QJsonValue() : QJsonValue(sheets_.FileName(d.sheet))},
                       {"iid", iid(QStringLiteral("layer/%1/%2").arg(levelUid).arg(defUid))},
                       {"levelId", levelUid},
                       {"layerDefUid", defUid},
                       {"pxOffsetX", instance.offset.x()},
                       {"pxOffsetY", instance.offset.y()},
                       {"visible", instance.visible},
                       {"optionalRules", QJsonArray()},
                       {"intGridCsv", QJsonArray()},
                       {"autoLayerTiles", QJsonArray()},
                       {"seed", 0},
                       {"overrideTilesetUid", QJsonValue()},
                       {"gridTiles", tiles},
                       {"entityInstances", QJsonArray()}};
}

QByteArray LdtkWriter::Project() const {
    const int sheetCount = static_cast<int>(sheets_.Sheets().size());
    std::set<QString> taken;
    QJsonArray tilesets;
    for (int sheet = 0; sheet < sheetCount; ++sheet) {
        const TileGrid grid = sheets_.Grid(sheet);
        const QSize size = sheets_.SheetSize(sheet);
        const int tile = grid.Tile().width();
        const auto cells = [&](int pixels) { return (pixels - 2 * grid.Margin() + tile + grid.Spacing() - 1) / (tile + grid.Spacing()); };
        tilesets.append(QJsonObject{{"__cWid", cells(size.width())},
                                    {"__cHei", cells(size.height())},
                                    {"identifier", unique(identifier(sheets_.Sheets()[static_cast<std::size_t>(sheet)].name), taken)},
                                    {"uid", sheet + 1},
                                    {"relPath", sheets_.FileName(sheet)},
                                    {"embedAtlas", QJsonValue()},
                                    {"pxWid", size.width()},
                                    {"pxHei", size.height()},
                                    {"tileGridSize", tile},
                                    {"spacing", grid.Spacing()},
                                    {"padding", grid.Margin()},
                                    {"tags", QJsonArray()},
                                    {"tagsSourceEnumUid", QJsonValue()},
                                    {"enumTags", QJsonArray()},
                                    {"customData", QJsonArray()},
                                    {"savedSelections", QJsonArray()},
                                    {"cachedPixelData", QJsonValue()}});
    }
    taken.clear();
    std::vector<QString> defNames(defs_.size());
    QJsonArray layers;
    for (const int def : order_) {
        const LayerDef& d = defs_[static_cast<std::size_t>(def)];
        defNames[static_cast<std::size_t>(def)] = unique(d.identifier, taken);
        layers.append(QJsonObject{{"__type", "Tiles"},
                                  {"identifier", defNames[static_cast<std::size_t>(def)]},
                                  {"type", "Tiles"},
                                  {"uid", sheetCount + def + 1},
                                  {"doc", QJsonValue()},
                                  {"uiColor", QJsonValue()},
                                  {"gridSize", d.grid},
                                  {"guideGridWid", 0},
                                  {"guideGridHei", 0},
                                  {"displayOpacity", d.opacity},
                                  {"inactiveOpacity", 1},
                                  {"hideInList", false},
                                  {"hideFieldsWhenInactive", true},
                                  {"canSelectWhenInactive", true},
                                  {"renderInWorldView", true},
                                  {"pxOffsetX", 0},
                                  {"pxOffsetY", 0},
                                  {"parallaxFactorX", 0},
                                  {"parallaxFactorY", 0},
                                  {"parallaxScaling", true},
                                  {"requiredTags", QJsonArray()},
                                  {"excludedTags", QJsonArray()},
                                  {"autoTilesKilledByOtherLayerUid", QJsonValue()},
                                  {"uiFilterTags", QJsonArray()},
                                  {"useAsyncRender", false},
                                  {"intGridValues", QJsonArray()},
                                  {"intGridValuesGroups", QJsonArray()},
                                  {"autoRuleGroups", QJsonArray()},
                                  {"autoSourceLayerDefUid", QJsonValue()},
                                  {"tilesetDefUid", d.sheet < 0 ? QJsonValue() : QJsonValue(d.sheet + 1)},
                                  {"tilePivotX", 0},
                                  {"tilePivotY", 0},
                                  {"biomeFieldUid", QJsonValue()}});
    }
    QJsonArray levels;
    taken.clear();
    int worldX = 0;
    int uid = sheetCount + static_cast<int>(defs_.size()) + 1;
    for (const LevelData& level : levels_) {
        QJsonArray instances;
        for (const int def : order_) {
            const auto found = level.instances.find(def);
            instances.append(instanceJson(level, uid, def, defNames[static_cast<std::size_t>(def)],
                                          found == level.instances.end() ? Instance{} : found->second));
        }
        levels.append(QJsonObject{{"identifier", unique(identifier(level.identifier), taken)},
                                  {"iid", iid(QStringLiteral("level/%1").arg(uid))},
                                  {"uid", uid},
                                  {"worldX", worldX},
                                  {"worldY", 0},
                                  {"worldDepth", 0},
                                  {"pxWid", level.pixels.width()},
                                  {"pxHei", level.pixels.height()},
                                  {"__bgColor", level.background.isEmpty() ? QStringLiteral("#696A79") : level.background},
                                  {"bgColor", level.background.isEmpty() ? QJsonValue() : QJsonValue(level.background)},
                                  {"useAutoIdentifier", false},
                                  {"bgRelPath", QJsonValue()},
                                  {"bgPos", QJsonValue()},
                                  {"bgPivotX", 0.5},
                                  {"bgPivotY", 0.5},
                                  {"__smartColor", "#ADADB5"},
                                  {"__bgPos", QJsonValue()},
                                  {"externalRelPath", QJsonValue()},
                                  {"fieldInstances", QJsonArray()},
                                  {"layerInstances", instances},
                                  {"__neighbours", QJsonArray()}});
        // Side by side, a gap between, in the order given.
        worldX += level.pixels.width() + 4 * level.grid;
        ++uid;
    }
    const int grid = levels_.empty() ? 16 : levels_.front().grid;
    const QJsonObject root{
        {"__header__", QJsonObject{{"fileType", "LDtk Project JSON"}, {"app", "LDtk"}, {"doc", "https://ldtk.io/json"},
                                   {"schema", "https://ldtk.io/files/JSON_SCHEMA.json"}, {"appAuthor", "Sebastien 'deepnight' Benard"},
                                   {"appVersion", "1.5.3"}, {"url", "https://ldtk.io"}}},
        {"iid", iid(QStringLiteral("project"))},
        {"jsonVersion", "1.5.3"},
        {"appBuildId", 473703},
        {"nextUid", uid},
        {"identifierStyle", "Capitalize"},
        {"toc", QJsonArray()},
        {"worldLayout", "Free"},
        {"worldGridWidth", 256},
        {"worldGridHeight", 256},
        {"defaultLevelWidth", 256},
        {"defaultLevelHeight", 256},
        {"defaultPivotX", 0},
        {"defaultPivotY", 0},
        {"defaultGridSize", grid},
        {"defaultEntityWidth", grid},
        {"defaultEntityHeight", grid},
        {"bgColor", "#40465B"},
        {"defaultLevelBgColor", "#696A79"},
        {"minifyJson", false},
        {"externalLevels", false},
        {"exportTiled", false},
        {"simplifiedExport", false},
        {"imageExportMode", "None"},
        {"exportLevelBg", true},
        {"pngFilePattern", QJsonValue()},
        {"backupOnSave", false},
        {"backupLimit", 10},
        {"backupRelPath", QJsonValue()},
        {"levelNamePattern", "Level_%idx"},
        {"tutorialDesc", QJsonValue()},
        {"customCommands", QJsonArray()},
        {"flags", QJsonArray()},
        {"defs", QJsonObject{{"layers", layers}, {"entities", QJsonArray()}, {"tilesets", tilesets}, {"enums", QJsonArray()},
                             {"externalEnums", QJsonArray()}, {"levelFields", QJsonArray()}}},
        {"levels", levels},
        {"worlds", QJsonArray()},
        {"dummyWorldIid", iid(QStringLiteral("world"))}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}
