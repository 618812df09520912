#include "export/ldtkwriter.h"

#include "sheets/tileindex.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr std::int64_t Largest = std::numeric_limits<std::int32_t>::max();

QString colour(const QColor& c) { return c.name(QColor::HexRgb).toUpper(); }

// Levels lie side by side, a gap of four cells between, in the order given.
std::int64_t nextWorldX(std::int64_t worldX, std::int64_t width, int grid) { return worldX + width + 4 * std::int64_t{grid}; }

// A tile or object layer with what its groups add: offset, opacity and visibility.
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
        if (layer.kind == LayerKind::Image) {
            ++counts.layersLeftOut;
            continue;
        }
        // A white tint leaves the colours as they are.
        counts.tintsLeftOut += layer.tint && layer.tint->rgba() != 0xFFFFFFFFu ? 1 : 0;
        counts.blendsLeftOut += layer.mode != "normal" ? 1 : 0;
        counts.propertiesLeftOut += static_cast<std::int64_t>(layer.properties.size());
        if (layer.kind == LayerKind::Group) {
            flatten(layer.layers, at, opacity * layer.opacity, visible && layer.visible, into, counts);
        } else {
            into.push_back({&layer, at, opacity * layer.opacity, visible && layer.visible});
        }
    }
}

bool beyond(double value) { return !(std::abs(value) <= static_cast<double>(Largest)); }

// What lies beyond LDtk's 32-bit coordinates in the level placed at worldX, or empty.
QString objectsBeyond(const std::vector<TiledLayer>& list, QPointF offset, std::int64_t worldX) {
    for (const TiledLayer& layer : list) {
        const QPointF at = offset + layer.offset;
        // Room kept for the tile offsets of the layer's tilesets.
        if (beyond(std::abs(at.x()) + Limits::PictureSide) || beyond(std::abs(at.y()) + Limits::PictureSide)) {
            return QStringLiteral("the layer %1, offset by %2,%3,").arg(layer.name, QString::number(at.x(), 'g', 12), QString::number(at.y(), 'g', 12));
        }
        if (const QString found = objectsBeyond(layer.layers, at, worldX); !found.isEmpty()) {
            return found;
        }
        for (const TiledObject& object : layer.objects) {
            std::vector<QPointF> corners{object.position, object.position + QPointF(object.size.width(), object.size.height())};
            for (const QPointF& p : object.points) {
                corners.push_back(object.position + p);
            }
            for (const QPointF& p : corners) {
                if (beyond(p.x() + static_cast<double>(worldX)) || beyond(p.x()) || beyond(p.y())) {
                    return QStringLiteral("the object with id %1%2 at %3,%4")
                        .arg(object.id)
                        .arg(object.name.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(object.name))
                        .arg(QString::number(object.position.x(), 'g', 12), QString::number(object.position.y(), 'g', 12));
                }
            }
        }
    }
    return QString();
}
}  // namespace

QString LdtkRefusal(const TiledMap& map, const ExportSheets& sheets, std::int64_t& worldX) {
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
    if (!refusal.isEmpty()) {
        return refusal;
    }
    // LDtk reads sizes, positions and cell numbers as 32-bit integers; past them they wrap.
    const std::int64_t width = std::int64_t{map.size.width()} * map.tile.width();
    const std::int64_t height = std::int64_t{map.size.height()} * map.tile.height();
    if (width > Largest || height > Largest) {
        return QStringLiteral("the level would be %1x%2 pixels; LDtk's sizes end at %3").arg(width).arg(height).arg(Largest);
    }
    const std::int64_t cells = (width + grid - 1) / grid * ((height + grid - 1) / grid);
    if (cells > Largest) {
        return QStringLiteral("the level would hold %1 cells a layer; LDtk numbers them up to %2").arg(cells).arg(Largest);
    }
    if (nextWorldX(worldX, width, grid) > Largest) {
        return QStringLiteral("the level would end at x %1 of the project's world, where the levels lie side by side; LDtk's world "
                              "positions end at %2: export fewer maps into one project")
            .arg(worldX + width)
            .arg(Largest);
    }
    if (const QString found = objectsBeyond(map.layers, QPointF(), worldX); !found.isEmpty()) {
        return found + QStringLiteral(" lies beyond LDtk's coordinates (32-bit integers)");
    }
    worldX = nextWorldX(worldX, width, grid);
    return QString();
}

int LdtkWriter::defFor(const LayerDef& wanted) {
    for (std::size_t k = 0; k < defs_.size(); ++k) {
        const LayerDef& def = defs_[k];
        if (def.identifier == wanted.identifier && def.grid == wanted.grid && def.sheet == wanted.sheet && def.opacity == wanted.opacity &&
            def.entities == wanted.entities) {
            return static_cast<int>(k);
        }
    }
    defs_.push_back(wanted);
    return static_cast<int>(defs_.size()) - 1;
}

int LdtkWriter::variant(int sheet, int index, std::uint32_t flips) {
    const auto found = variants_.find({sheet, index, flips});
    if (found != variants_.end()) {
        return found->second;
    }
    const QImage copy = OrientedTile(sheets_.Tile(sheet, index), flips);
    return variants_[{sheet, index, flips}] = sheets_.Append(sheet, copy);
}

LdtkWriter::Instance LdtkWriter::entities(const TiledMap& map, const TiledLayer& layer, ExportCounts& counts) {
    Instance instance;
    const QString shown = colour(layer.colour.value_or(QColor(0xA0, 0xA0, 0xA4)));
    for (const TiledObject& object : layer.objects) {
        LdtkEntities::TilePlace tile;
        const TiledTileset* tileset = nullptr;
        if (object.kind == ObjectKind::Tile && GidTile(object.gid) != 0) {
            const TilesetRef* ref = map.TilesetOf(object.gid);
            tileset = ref == nullptr ? nullptr : ref->tileset.get();
            const ExportSheets::Place place = sheets_.Of(map, object.gid);
            if (place.sheet >= 0) {
                const std::uint32_t flips = object.gid & GidFlag::Flips;
                const int index = flips != 0 ? variant(place.sheet, place.index, flips) : place.index;
                const int columns = sheets_.Sheets()[static_cast<std::size_t>(place.sheet)].columns;
                tile = {place.sheet + 1, sheets_.Grid(place.sheet).Cell(index % columns, index / columns)};
            }
        }
        instance.entities.push_back(entities_.Add(object, tileset, tile, map.tile.width(), shown, counts));
    }
    return instance;
}

void LdtkWriter::Level(const TiledMap& map, const QString& name, ExportCounts& counts) {
    const int grid = map.tile.width();
    std::vector<Flat> flat;
    flatten(map.layers, QPointF(), 1.0, true, flat, counts);
    for (const TilesetRef& ref : map.tilesets) {
        if (!sheets_.SheetsOf(*ref.tileset).empty() && tilesetsSeen_.insert(ref.tileset.get()).second) {
            counts.propertiesLeftOut += static_cast<std::int64_t>(ref.tileset->properties.size());
        }
    }
    levelFields_.Add(map.properties, counts);
    LevelData level;
    level.identifier = name;
    level.pixels = QSize(map.size.width() * grid, map.size.height() * map.tile.height());
    level.grid = grid;
    level.background = map.background ? colour(*map.background) : QString();
    level.folder = QFileInfo(map.file).absolutePath();
    level.properties = map.properties;
    std::vector<int> parts;  // this map's layer definitions, top-most first
    // Tiled draws a tileset's tiles shifted by its tile offset: the layer part of its sheet is.
    std::map<int, QPoint> tileOffsets;
    for (const TilesetRef& ref : map.tilesets) {
        for (const int sheet : sheets_.SheetsOf(*ref.tileset)) {
            tileOffsets[sheet] = ref.tileset->tileOffset;
        }
    }
    for (auto flatLayer = flat.rbegin(); flatLayer != flat.rend(); ++flatLayer) {
        const TiledLayer& layer = *flatLayer->layer;
        const bool objects = layer.kind == LayerKind::Objects;
        std::vector<std::pair<int, Instance>> bySheet;  // in the order the sheets are first met
        if (objects) {
            bySheet.push_back({-1, entities(map, layer, counts)});
        } else {
            sheets_.ForEachPlaced(map, layer, [&](QPoint cell, std::uint32_t gid, ExportSheets::Place place) {
                const bool diagonal = (gid & GidFlag::Diagonal) != 0;
                const Tile tile{cell.x(), cell.y(), place.sheet, diagonal ? variant(place.sheet, place.index, GidFlag::Diagonal) : place.index,
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
        }
        for (auto& [sheet, instance] : bySheet) {
            QString named = LdtkCapitalized(layer.name);
            if (bySheet.size() > 1) {
                named += '_' + LdtkCapitalized(sheets_.Sheets()[static_cast<std::size_t>(sheet)].name);
            }
            const LayerDef wanted{named, grid, sheet, flatLayer->opacity, objects};
            const int def = defFor(wanted);
            instance.visible = flatLayer->visible;
            instance.offset = QPoint(static_cast<int>(std::lround(flatLayer->offset.x())), static_cast<int>(std::lround(flatLayer->offset.y()))) +
                              (objects ? QPoint() : tileOffsets[sheet]);
            if (level.instances.count(def) > 0) {
                // A second layer of the same name, grid, sheet and opacity: a definition of its own.
                defs_.push_back(wanted);
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

int LdtkWriter::ldtkTileId(int sheet, int index) const {
    const TileGrid grid = sheets_.Grid(sheet);
    const int columns = sheets_.Sheets()[static_cast<std::size_t>(sheet)].columns;
    const int step = grid.Tile().width() + grid.Spacing();
    // As wide as LDtk computes it: every started cell counts.
    const int ldtkColumns = (sheets_.SheetSize(sheet).width() - 2 * grid.Margin() + step - 1) / step;
    return index % columns + index / columns * ldtkColumns;
}

QJsonObject LdtkWriter::instanceJson(const LevelData& level, int levelUid, int def, const QString& name, const Instance& instance,
                                     QPoint world, const LdtkFields::Context& context, int& entity) const {
    const LayerDef& d = defs_[static_cast<std::size_t>(def)];
    const int columns = (level.pixels.width() + d.grid - 1) / d.grid;
    QJsonArray tiles;
    for (const Tile& tile : instance.tiles) {
        const TileGrid grid = sheets_.Grid(tile.sheet);
        const int sheetColumns = sheets_.Sheets()[static_cast<std::size_t>(tile.sheet)].columns;
        const QRect source = grid.Cell(tile.index % sheetColumns, tile.index / sheetColumns);
        tiles.append(QJsonObject{{"px", QJsonArray{tile.x * d.grid, tile.y * d.grid}},
                                 {"src", QJsonArray{source.x(), source.y()}},
                                 {"f", tile.flips},
                                 {"t", ldtkTileId(tile.sheet, tile.index)},
                                 {"d", QJsonArray{tile.x + tile.y * columns}},
                                 {"a", 1}});
    }
    QJsonArray entities;
    for (const LdtkEntities::Entity& e : instance.entities) {
        entities.append(entities_.Instance(e, d.grid, world, LdtkIid(QStringLiteral("entity/%1/%2").arg(levelUid).arg(entity++)), context));
    }
    const QJsonValue tileset = d.sheet < 0 ? QJsonValue() : QJsonValue(d.sheet + 1);
    const int defUid = static_cast<int>(sheets_.Sheets().size()) + def + 1;
    return QJsonObject{{"__identifier", name},
                       {"__type", d.entities ? "Entities" : "Tiles"},
                       {"__cWid", columns},
                       {"__cHei", (level.pixels.height() + d.grid - 1) / d.grid},
                       {"__gridSize", d.grid},
                       {"__opacity", d.opacity},
                       {"__pxTotalOffsetX", instance.offset.x()},
                       {"__pxTotalOffsetY", instance.offset.y()},
                       {"__tilesetDefUid", tileset},
                       {"__tilesetRelPath", d.sheet < 0 ? QJsonValue() : QJsonValue(sheets_.FileName(d.sheet))},
                       {"iid", LdtkIid(QStringLiteral("layer/%1/%2").arg(levelUid).arg(defUid))},
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
                       {"entityInstances", entities}};
}
