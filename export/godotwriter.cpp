#include "export/godotwriter.h"

#include <QRegularExpression>

#include <map>

namespace {
// A node name Godot keeps as it is: none of . : @ / " % and unique among its siblings.
QString nodeName(const QString& name, std::set<QString>& siblings) {
    QString plain = name;
    plain.replace(QRegularExpression(QStringLiteral("[.:@/\"%]")), QStringLiteral("_"));
    if (plain.isEmpty()) {
        plain = QStringLiteral("Layer");
    }
    QString unique = plain;
    for (int n = 2; !siblings.insert(unique).second; ++n) {
        unique = QStringLiteral("%1%2").arg(plain).arg(n);
    }
    return unique;
}

QString quoted(const QString& text) {
    QString escaped = text;
    escaped.replace('\\', QStringLiteral("\\\\")).replace('"', QStringLiteral("\\\""));
    return '"' + escaped + '"';
}

QString number(double value) { return QString::number(value, 'g', 9); }

void put16(QByteArray& bytes, int value) {
    bytes += static_cast<char>(value & 0xFF);
    bytes += static_cast<char>((value >> 8) & 0xFF);
}
}  // namespace

QByteArray GodotWriter::Scene(const TiledMap& map, const QString& rootName, ExportCounts& counts) {
    if (tile_.isEmpty()) {
        tile_ = map.tile;
    }
    QString text = QStringLiteral("[gd_scene load_steps=2 format=3]\n\n[ext_resource type=\"TileSet\" path=%1 id=\"1_tileset\"]\n\n")
                       .arg(quoted(res_ + tileset_));
    std::set<QString> rootSiblings;
    text += QStringLiteral("[node name=%1 type=\"Node2D\"]\n").arg(quoted(nodeName(rootName, rootSiblings)));
    std::function<void(const std::vector<TiledLayer>&, const QString&)> layers = [&](const std::vector<TiledLayer>& list, const QString& parent) {
        std::set<QString> siblings;
        for (const TiledLayer& layer : list) {
            if (layer.kind == LayerKind::Objects) {
                counts.objectsLeftOut += static_cast<std::int64_t>(layer.objects.size());
                continue;
            }
            if (layer.kind == LayerKind::Image) {
                ++counts.layersLeftOut;
                continue;
            }
            const QString name = nodeName(layer.name, siblings);
            text += QStringLiteral("\n[node name=%1 type=\"%2\" parent=%3]\n")
                        .arg(quoted(name), layer.kind == LayerKind::Group ? QStringLiteral("Node2D") : QStringLiteral("TileMapLayer"), quoted(parent));
            if (!layer.offset.isNull()) {
                text += QStringLiteral("position = Vector2(%1, %2)\n").arg(number(layer.offset.x()), number(layer.offset.y()));
            }
            if (!layer.visible) {
                text += QStringLiteral("visible = false\n");
            }
            const QColor tint = layer.tint.value_or(QColor(Qt::white));
            if (layer.opacity != 1.0 || layer.tint) {
                text += QStringLiteral("modulate = Color(%1, %2, %3, %4)\n")
                            .arg(number(tint.redF()), number(tint.greenF()), number(tint.blueF()), number(tint.alphaF() * layer.opacity));
            }
            if (layer.kind == LayerKind::Group) {
                layers(layer.layers, parent == "." ? name : parent + "/" + name);
                continue;
            }
            ++counts.layers;
            QByteArray data;
            put16(data, 0);
            sheets_.ForEachPlaced(map, layer, [&](QPoint cell, std::uint32_t gid, ExportSheets::Place place) {
                const int columns = sheets_.Sheets()[static_cast<std::size_t>(place.sheet)].columns;
                used_.insert({place.sheet, place.index});
                const int alternative = ((gid & GidFlag::Horizontal) ? GodotTransform::FlipH : 0) |
                                        ((gid & GidFlag::Vertical) ? GodotTransform::FlipV : 0) |
                                        ((gid & GidFlag::Diagonal) ? GodotTransform::Transpose : 0);
                for (const int value : {cell.x(), cell.y(), place.sheet, place.index % columns, place.index / columns, alternative}) {
                    put16(data, value);
                }
                ++counts.tiles;
            });
            QStringList bytes;
            for (const char byte : data) {
                bytes += QString::number(static_cast<unsigned char>(byte));
            }
            text += QStringLiteral("tile_map_data = PackedByteArray(%1)\ntile_set = ExtResource(\"1_tileset\")\n").arg(bytes.join(", "));
        }
    };
    layers(map.layers, QStringLiteral("."));
    return text.toUtf8();
}

QByteArray GodotWriter::TileSet() const {
    std::map<int, std::vector<int>> bySheet;
    for (const auto& [sheet, index] : used_) {
        bySheet[sheet].push_back(index);
    }
    const int steps = 1 + 2 * static_cast<int>(bySheet.size());
    QString text = QStringLiteral("[gd_resource type=\"TileSet\" load_steps=%1 format=3]\n\n").arg(steps);
    for (const auto& [sheet, indices] : bySheet) {
        text += QStringLiteral("[ext_resource type=\"Texture2D\" path=%1 id=\"%2_sheet\"]\n").arg(quoted(res_ + sheets_.FileName(sheet))).arg(sheet);
    }
    QString sources;
    for (const auto& [sheet, indices] : bySheet) {
        const TileGrid grid = sheets_.Grid(sheet);
        const int columns = sheets_.Sheets()[static_cast<std::size_t>(sheet)].columns;
        text += QStringLiteral("\n[sub_resource type=\"TileSetAtlasSource\" id=\"TileSetAtlasSource_%1\"]\n").arg(sheet);
        text += QStringLiteral("texture = ExtResource(\"%1_sheet\")\n").arg(sheet);
        text += QStringLiteral("margins = Vector2i(%1, %1)\nseparation = Vector2i(%2, %2)\ntexture_region_size = Vector2i(%3, %4)\n")
                    .arg(grid.Margin())
                    .arg(grid.Spacing())
                    .arg(grid.Tile().width())
                    .arg(grid.Tile().height());
        for (const int index : indices) {
            text += QStringLiteral("%1:%2/0 = 0\n").arg(index % columns).arg(index / columns);
        }
        sources += QStringLiteral("sources/%1 = SubResource(\"TileSetAtlasSource_%1\")\n").arg(sheet);
    }
    const QSize tile = tile_.isEmpty() ? QSize(16, 16) : tile_;
    text += QStringLiteral("\n[resource]\ntile_size = Vector2i(%1, %2)\n").arg(tile.width()).arg(tile.height()) + sources;
    return text.toUtf8();
}
