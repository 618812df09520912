#include "export/godotwriter.h"

#include "export/godottext.h"

#include <algorithm>
#include <limits>
#include <unordered_map>

namespace {
void put16(std::vector<unsigned char>& bytes, int value) {
    bytes.push_back(static_cast<unsigned char>(static_cast<unsigned>(value) & 0xFF));
    bytes.push_back(static_cast<unsigned char>((static_cast<unsigned>(value) >> 8) & 0xFF));
}

// The bytes as a PackedByteArray's decimal list, written without a number formatter or an
// append a byte: a big map has millions of them.
QByteArray byteList(const std::vector<unsigned char>& bytes) {
    QByteArray text(static_cast<qsizetype>(bytes.size()) * 5, Qt::Uninitialized);
    char* at = text.data();
    for (const unsigned char value : bytes) {
        if (value >= 100) {
            *at++ = static_cast<char>('0' + value / 100);
        }
        if (value >= 10) {
            *at++ = static_cast<char>('0' + value / 10 % 10);
        }
        *at++ = static_cast<char>('0' + value % 10);
        *at++ = ',';
        *at++ = ' ';
    }
    text.truncate(std::max<qsizetype>(0, at - text.data() - 2));
    return text;
}
}  // namespace

QString GodotRefusal(const TiledMap& map) {
    GodotGrid grid;
    if (QString refusal = GodotGridOf(map, grid); !refusal.isEmpty()) {
        return refusal;
    }
    if (map.orientation == "hexagonal") {
        QString turned;
        ForEachLayer(map.layers, [&](const TiledLayer& layer) {
            for (const TiledChunk& chunk : layer.chunks) {
                for (std::size_t k = 0; k < chunk.gids.size() && turned.isEmpty(); ++k) {
                    if ((chunk.gids[k] & (GidFlag::Diagonal | GidFlag::Rotated120)) != 0 && GidTile(chunk.gids[k]) != 0) {
                        const int width = std::max(1, chunk.area.width());
                        turned = QStringLiteral("cell %1,%2 of layer %3 turns its tile by 60 or 120 degrees, which Godot's hexagons cannot draw")
                                     .arg(chunk.area.x() + static_cast<int>(k) % width)
                                     .arg(chunk.area.y() + static_cast<int>(k) / width)
                                     .arg(layer.name);
                    }
                }
            }
        });
        if (!turned.isEmpty()) {
            return turned;
        }
    }
    constexpr int most = std::numeric_limits<std::int16_t>::max() + 1;
    if (map.size.width() > most || map.size.height() > most) {
        return QStringLiteral("a map of %1x%2 cells; Godot's TileMapLayer holds cells at 16-bit coordinates, at most %3 a side")
            .arg(map.size.width())
            .arg(map.size.height())
            .arg(most);
    }
    return {};
}

QByteArray GodotWriter::Scene(const TiledMap& map, const QString& rootName, const ExportSheets& sheets, std::map<QString, QString>& pictures,
                              ExportCounts& counts) {
    std::set<QString> rootSiblings;
    QByteArray nodes = "\n[node name=" + GodotQuoted(GodotNodeName(rootName, rootSiblings, QStringLiteral("Map"))) + " type=\"Node2D\"]\n";
    GodotObjects objects(sheets, map, res_, pictures);
    layers(map, map.layers, QStringLiteral("."), sheets, counts, objects, nodes);
    return "[gd_scene load_steps=" + QByteArray::number(2 + objects.ResourceCount()) + " format=3]\n\n[ext_resource type=\"TileSet\" path=" +
           GodotQuoted(res_ + name_) + " id=\"1_tileset\"]\n" + objects.Resources() + nodes;
}

void GodotWriter::layers(const TiledMap& map, const std::vector<TiledLayer>& list, const QString& parent, const ExportSheets& sheets,
                         ExportCounts& counts, GodotObjects& objects, QByteArray& text) {
    std::set<QString> siblings;
    for (const TiledLayer& layer : list) {
        const QByteArray picture = layer.kind == LayerKind::Image ? objects.ImageLayer(layer) : QByteArray();
        if (layer.kind == LayerKind::Image && picture.isEmpty()) {
            ++counts.layersLeftOut;
            continue;
        }
        const bool group = layer.kind != LayerKind::Tiles;
        const QString name = GodotNodeName(layer.name, siblings, QStringLiteral("Layer"));
        std::vector<unsigned char> data;
        bool overflows = grid_.shape != 0;
        if (!group) {
            ++counts.layers;
            data.reserve(2 + 12 * static_cast<std::size_t>(std::max(0, layer.size.width())) * static_cast<std::size_t>(std::max(0, layer.size.height())));
            put16(data, 0);
            // A layer places few distinct tiles in many cells: each is registered once.
            std::unordered_map<std::uint32_t, GodotTileSet::Cell> placed;
            sheets.ForEachPlaced(map, layer, [&](QPoint cell, std::uint32_t gid, ExportSheets::Place place) {
                auto known = placed.find(gid);
                if (known == placed.end()) {
                    known = placed.emplace(gid, tileset_.Place(map, place, gid)).first;
                    overflows = overflows || tileset_.Overflows(place.sheet);
                }
                const GodotTileSet::Cell& at = known->second;
                for (const int value : {cell.x(), cell.y(), place.sheet, at.x, at.y, at.alternative}) {
                    put16(data, value);
                }
                ++counts.tiles;
            });
        }
        const QByteArray type = layer.kind == LayerKind::Tiles ? "TileMapLayer" : layer.kind == LayerKind::Image ? "Sprite2D" : "Node2D";
        text += "\n[node name=" + GodotQuoted(name) + " type=\"" + type + "\" parent=" + GodotQuoted(parent) + "]\n";
        const QPointF position = layer.offset + (group ? QPointF() : grid_.shift + tileset_.Nudge());
        if (!position.isNull()) {
            text += "position = " + GodotVector(position.x(), position.y()) + "\n";
        }
        if (!layer.visible) {
            text += "visible = false\n";
        }
        const QColor tint = layer.tint.value_or(QColor(Qt::white));
        if (layer.opacity != 1.0 || layer.tint) {
            text += "modulate = Color(" + GodotNumber(tint.redF()) + ", " + GodotNumber(tint.greenF()) + ", " + GodotNumber(tint.blueF()) + ", " +
                    GodotNumber(tint.alphaF() * layer.opacity) + ")\n";
        }
        if (layer.kind == LayerKind::Group) {
            layers(map, layer.layers, parent == "." ? name : parent + "/" + name, sheets, counts, objects, text);
            continue;
        }
        if (layer.kind == LayerKind::Image) {
            text += picture;
            continue;
        }
        if (layer.kind == LayerKind::Objects) {
            text += objects.Nodes(layer, parent == "." ? name : parent + "/" + name, counts);
            continue;
        }
        if (overflows) {
            // Rows drawn top to bottom, each left to right (right to left for Tiled's left-down
            // order; its up orders Godot cannot draw), as Tiled draws them.
            text += "y_sort_enabled = true\n";
            if (map.orientation == "orthogonal" && map.renderOrder.startsWith("left")) {
                text += "x_draw_order_reversed = true\n";
            }
        }
        text += "tile_map_data = PackedByteArray(" + byteList(data) + ")\ntile_set = ExtResource(\"1_tileset\")\n";
    }
}
