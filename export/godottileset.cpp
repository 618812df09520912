#include "export/godottileset.h"

#include "export/godotobjects.h"
#include "export/godottext.h"

#include <cmath>

namespace {
// Godot's Variant type of a Tiled property type, and the value as Godot writes it.
int variantType(const QString& type) {
    return type == "bool" ? 1 : type == "int" ? 2 : type == "float" ? 3 : type == "color" ? 20 : 4;
}

QByteArray variantValue(int variant, const QString& value) {
    switch (variant) {
        case 1:
            return value == "true" ? "true" : "false";
        case 2:
        case 3:
            return GodotNumber(value.toDouble());
        case 20: {
            // Tiled writes #AARRGGBB or #RRGGBB.
            const QColor colour = value.size() == 9 ? QColor::fromRgba(value.mid(1).toUInt(nullptr, 16)) : QColor(value);
            return "Color(" + GodotNumber(colour.redF()) + ", " + GodotNumber(colour.greenF()) + ", " + GodotNumber(colour.blueF()) + ", " +
                   GodotNumber(colour.alphaF()) + ")";
        }
        default:
            return GodotQuoted(value);
    }
}
}  // namespace

QString GodotGridOf(const TiledMap& map, GodotGrid& grid) {
    grid = GodotGrid{};
    grid.tile = map.tile;
    const QString& orientation = map.orientation;
    if (orientation == "orthogonal") {
        return {};
    }
    if (orientation == "isometric") {
        // Tiled puts the top corner of cell 0,0 at the middle of the map's first row of cells.
        grid.shape = 1;
        grid.layout = 5;
        grid.shift = QPointF((map.size.height() - 1) * map.tile.width() / 2.0, 0);
        return {};
    }
    if (orientation == "staggered" || orientation == "hexagonal") {
        const bool acrossX = map.staggerAxis == "x";
        grid.shape = orientation == "staggered" ? 1 : 3;
        grid.layout = map.staggerIndex == "even" ? 1 : 0;
        grid.axis = acrossX ? 1 : 0;
        // Tiled lays these out on even sizes.
        grid.tile = QSize(map.tile.width() & ~1, map.tile.height() & ~1);
        if (grid.tile.isEmpty()) {
            return QStringLiteral("a %1 map of %2x%3 pixel cells, too small to lay out").arg(orientation).arg(map.tile.width()).arg(map.tile.height());
        }
        const int along = acrossX ? grid.tile.width() : grid.tile.height();
        if (grid.shape == 3 && (map.hexSideLength * 2 != along || along % 4 != 0)) {
            return QStringLiteral("a hexagonal map whose hexsidelength %1 is not half its tile %2 %3 with that a multiple of 4: "
                                  "Godot's hexagons have sides of half their %2, their rows three quarters apart")
                .arg(map.hexSideLength)
                .arg(acrossX ? QStringLiteral("width") : QStringLiteral("height"))
                .arg(along);
        }
        return {};
    }
    return QStringLiteral("a map of orientation %1, which Godot does not lay out").arg(orientation);
}

void GodotTileSet::AddMap(const TiledMap& map) {
    for (const TilesetRef& ref : map.tilesets) {
        for (const int sheet : sheets_.SheetsOf(*ref.tileset)) {
            offsets_[sheet] = ref.tileset->tileOffset;
        }
    }
}

void GodotTileSet::settle() {
    if (settled_) {
        return;
    }
    settled_ = true;
    // Origins are whole pixels: where a tile and the cell differ in parity, every cell is
    // moved by half a pixel instead, so the tile's pixels land on the picture's.
    for (const auto& [sheet, offset] : offsets_) {
        const QSize tile = sheets_.Sheets()[static_cast<std::size_t>(sheet)].tile;
        if ((grid_.tile.width() - tile.width()) % 2 != 0) {
            nudge_.setX(0.5);
        }
        if ((grid_.tile.height() - tile.height()) % 2 != 0) {
            nudge_.setY(0.5);
        }
    }
}

QPoint GodotTileSet::origin(int sheet, bool transposed) const {
    QSize tile = sheets_.Sheets()[static_cast<std::size_t>(sheet)].tile;
    if (transposed) {
        tile.transpose();
    }
    const auto found = offsets_.find(sheet);
    const QPoint offset = found == offsets_.end() ? QPoint() : found->second;
    // Godot centres the tile on the cell's centre less the origin; Tiled puts it bottom-left.
    const double x = nudge_.x() + grid_.tile.width() / 2.0 - tile.width() / 2.0 - offset.x();
    const double y = nudge_.y() + tile.height() / 2.0 - grid_.tile.height() / 2.0 - offset.y();
    return QPoint(static_cast<int>(std::floor(x + 0.5)), static_cast<int>(std::floor(y + 0.5)));
}

bool GodotTileSet::Overflows(int sheet) const {
    const QSize tile = sheets_.Sheets()[static_cast<std::size_t>(sheet)].tile;
    const auto found = offsets_.find(sheet);
    return tile.width() > grid_.tile.width() || tile.height() > grid_.tile.height() || (found != offsets_.end() && !found->second.isNull());
}

const GodotAnimation* GodotTileSet::animation(const TiledMap& map, ExportSheets::Place place, std::uint32_t gid) {
    const auto known = animations_.find({place.sheet, place.index});
    if (known != animations_.end()) {
        return known->second.durations.empty() ? nullptr : &known->second;
    }
    GodotAnimation& made = animations_[{place.sheet, place.index}];
    const ExportSheets::Sheet& sheet = sheets_.Sheets()[static_cast<std::size_t>(place.sheet)];
    const TiledTile* info = sheet.info[static_cast<std::size_t>(place.index)];
    const TilesetRef* ref = map.TilesetOf(GidTile(gid));
    if (info == nullptr || info->animation.size() < 2 || ref == nullptr) {
        return nullptr;
    }
    std::vector<QImage> frames;
    for (const TiledFrame& frame : info->animation) {
        const ExportSheets::Place at = sheets_.Of(map, ref->firstGid + static_cast<std::uint32_t>(frame.tileId));
        if (at.sheet != place.sheet) {
            return nullptr;  // Godot animates within one atlas only: the tile stays still
        }
        frames.push_back(sheets_.Tile(at.sheet, at.index));
    }
    while (sheet.count % sheet.columns != 0) {
        sheets_.Append(place.sheet, QImage());
    }
    made.first = sheet.count;
    for (std::size_t k = 0; k < frames.size(); ++k) {
        sheets_.Append(place.sheet, frames[k]);
        made.durations.push_back(info->animation[k].duration);
    }
    return &made;
}

GodotTileSet::Cell GodotTileSet::Place(const TiledMap& map, ExportSheets::Place place, std::uint32_t gid) {
    settle();
    int index = place.index;
    if (const GodotAnimation* animated = animation(map, place, gid)) {
        index = animated->first;
    }
    const QSize tile = sheets_.Sheets()[static_cast<std::size_t>(place.sheet)].tile;
    const bool transposed = (gid & GidFlag::Diagonal) != 0;
    // A turned tile of another width than height needs an origin of its own: an alternative.
    const bool own = transposed && tile.width() != tile.height();
    used_[{place.sheet, index}] |= own ? 2 : 1;
    info_[{place.sheet, index}] = sheets_.Sheets()[static_cast<std::size_t>(place.sheet)].info[static_cast<std::size_t>(place.index)];
    const int columns = sheets_.Sheets()[static_cast<std::size_t>(place.sheet)].columns;
    Cell cell{index % columns, index / columns, own ? 1 : 0};
    cell.alternative |= ((gid & GidFlag::Horizontal) ? GodotFlip::H : 0) | ((gid & GidFlag::Vertical) ? GodotFlip::V : 0) |
                        (transposed && !own ? GodotFlip::Transpose : 0);
    return cell;
}

QByteArray GodotTileSet::Write() const {
    std::map<int, std::vector<std::pair<int, int>>> bySheet;  // index, use
    for (const auto& [at, use] : used_) {
        bySheet[at.first].emplace_back(at.second, use);
    }
    QByteArray text = "[gd_resource type=\"TileSet\" load_steps=" + QByteArray::number(1 + 2 * static_cast<int>(bySheet.size())) + " format=3]\n\n";
    for (const auto& [sheet, tiles] : bySheet) {
        text += "[ext_resource type=\"Texture2D\" path=" + GodotQuoted(res_ + sheets_.FileName(sheet)) + " id=\"" + QByteArray::number(sheet) + "_sheet\"]\n";
    }
    std::map<std::pair<int, int>, const GodotAnimation*> byFirst;  // by sheet and first frame
    for (const auto& [base, animation] : animations_) {
        if (!animation.durations.empty()) {
            byFirst[{base.first, animation.first}] = &animation;
        }
    }
    // A custom data layer per property name (its first type where tiles differ) and the class.
    std::map<QString, std::pair<int, int>> layers;  // name: index, variant type
    const auto layerOf = [&](const QString& name, const QString& type) {
        const auto found = layers.find(name);
        return found != layers.end() ? found->second : layers.emplace(name, std::pair(0, variantType(type))).first->second;
    };
    for (const auto& [at, tile] : info_) {
        if (tile != nullptr) {
            for (const TiledProperty& property : tile->properties) {
                layerOf(property.name, property.type);
            }
            if (!tile->type.isEmpty()) {
                layerOf(QStringLiteral("class"), QString());
            }
        }
    }
    int next = 0;
    for (auto& [name, layer] : layers) {
        layer.first = next++;
    }
    const auto customData = [&](const TiledTile* tile, const QByteArray& key) {
        QByteArray lines;
        if (tile == nullptr) {
            return lines;
        }
        std::vector<TiledProperty> values = tile->properties;
        if (!tile->type.isEmpty()) {
            values.push_back({QStringLiteral("class"), QString(), tile->type});
        }
        for (const TiledProperty& property : values) {
            const auto& [index, variant] = layers.at(property.name);
            // A value of another type than its layer's is not read: left empty.
            if (variant == variantType(property.type) || (property.name == "class" && variant == 4)) {
                lines += key + "/custom_data_" + QByteArray::number(index) + " = " + variantValue(variant, property.value) + "\n";
            }
        }
        return lines;
    };
    bool physics = false;
    // A tile's collision shapes as polygons about the cell's centre, as Godot keeps them, one
    // per shape (rectangles and ellipses as polygons); the turned alternative's turned too.
    const auto collision = [&](const TiledTile* tile, int sheet, int alternative, const QByteArray& key) {
        QByteArray lines;
        if (tile == nullptr) {
            return lines;
        }
        const QSize size = sheets_.Sheets()[static_cast<std::size_t>(sheet)].tile;
        const QPoint origin = this->origin(sheet, alternative == 1);
        int polygon = 0;
        for (const TiledObject& shape : tile->collision) {
            const std::vector<QPointF> corners = GodotShape(shape);
            if (corners.size() < 3) {
                continue;
            }
            QByteArray points;
            for (const QPointF& corner : corners) {
                const QPointF at = alternative == 1 ? QPointF(corner.y() - size.height() / 2.0, corner.x() - size.width() / 2.0)
                                                    : QPointF(corner.x() - size.width() / 2.0, corner.y() - size.height() / 2.0);
                points += (points.isEmpty() ? "" : ", ") + GodotNumber(at.x() - origin.x()) + ", " + GodotNumber(at.y() - origin.y());
            }
            lines += key + "/physics_layer_0/polygon_" + QByteArray::number(polygon++) + "/points = PackedVector2Array(" + points + ")\n";
            physics = true;
        }
        return lines;
    };
    QByteArray sources;
    for (const auto& [sheet, tiles] : bySheet) {
        const TileGrid grid = sheets_.Grid(sheet);
        const int columns = sheets_.Sheets()[static_cast<std::size_t>(sheet)].columns;
        const QByteArray id = QByteArray::number(sheet);
        text += "\n[sub_resource type=\"TileSetAtlasSource\" id=\"TileSetAtlasSource_" + id + "\"]\ntexture = ExtResource(\"" + id + "_sheet\")\n";
        text += "margins = " + GodotVectorI(grid.Margin(), grid.Margin()) + "\nseparation = " + GodotVectorI(grid.Spacing(), grid.Spacing()) +
                "\ntexture_region_size = " + GodotVectorI(grid.Tile().width(), grid.Tile().height()) + "\n";
        for (const auto& [index, use] : tiles) {
            const QByteArray at = QByteArray::number(index % columns) + ':' + QByteArray::number(index / columns);
            if (const auto animated = byFirst.find({sheet, index}); animated != byFirst.end()) {
                const std::vector<int>& durations = animated->second->durations;
                const int frames = static_cast<int>(durations.size());
                text += at + "/animation_columns = " + QByteArray::number(std::min(frames, columns)) + "\n" + at +
                        "/animation_frames_count = " + QByteArray::number(frames) + "\n";
                for (int k = 0; k < frames; ++k) {
                    text += at + "/animation_frame_" + QByteArray::number(k) + "/duration = " + GodotNumber(durations[static_cast<std::size_t>(k)] / 1000.0) + "\n";
                }
            }
            for (const int alternative : {0, 1}) {
                if ((use & (1 << alternative)) == 0) {
                    continue;
                }
                const QByteArray key = at + '/' + QByteArray::number(alternative);
                text += key + " = " + QByteArray::number(alternative) + "\n";
                if (alternative == 1) {
                    text += key + "/transpose = true\n";
                }
                const QPoint origin = this->origin(sheet, alternative == 1);
                if (!origin.isNull()) {
                    text += key + "/texture_origin = " + GodotVectorI(origin.x(), origin.y()) + "\n";
                }
                text += customData(info_.at({sheet, index}), key) + collision(info_.at({sheet, index}), sheet, alternative, key);
            }
        }
        sources += "sources/" + id + " = SubResource(\"TileSetAtlasSource_" + id + "\")\n";
    }
    text += "\n[resource]\ntile_shape = " + QByteArray::number(grid_.shape) + "\ntile_layout = " + QByteArray::number(grid_.layout) +
            "\ntile_offset_axis = " + QByteArray::number(grid_.axis) + "\ntile_size = " + GodotVectorI(grid_.tile.width(), grid_.tile.height()) + "\n";
    if (physics) {
        text += "physics_layer_0/collision_layer = 1\n";
    }
    for (const auto& [name, layer] : layers) {
        const QByteArray prefix = "custom_data_layer_" + QByteArray::number(layer.first);
        text += prefix + "/name = " + GodotQuoted(name) + "\n" + prefix + "/type = " + QByteArray::number(layer.second) + "\n";
    }
    text += sources;
    return text;
}
