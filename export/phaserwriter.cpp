#include "export/phaserwriter.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <charconv>
#include <vector>

namespace {
class PhaserJson {
public:
    PhaserJson(const TiledMap& map, const ExportSheets& sheets, const QString& folder, ExportCounts& counts)
        : map_(map), sheets_(sheets), folder_(folder), counts_(counts) {}

    QByteArray Write();

private:
    QJsonValue property(const TiledProperty& p) const;
    QJsonArray properties(const std::vector<TiledProperty>& list) const;
    std::uint32_t gid(std::uint32_t source) const;
    std::uint32_t placed(ExportSheets::Place place, std::uint32_t source) const;
    void common(const TiledLayer& layer, QJsonObject& o);
    QJsonObject object(const TiledObject& object) const;
    QJsonArray layers(const std::vector<TiledLayer>& list);
    QJsonObject tileset(int sheet, std::uint32_t firstGid) const;

    const TiledMap& map_;
    const ExportSheets& sheets_;
    QDir folder_;
    ExportCounts& counts_;
    std::vector<std::uint32_t> firstGids_;  // by sheet
    // The tile layers' data arrays, written directly: through QJsonArray they took most of
    // the map's time. The tree holds "#k" in their place until the end.
    std::vector<QByteArray> data_;
    int nextLayer_ = 1;
    int nextObject_ = 1;
};

QJsonValue PhaserJson::property(const TiledProperty& p) const {
    if (p.type == "int") {
        return p.value.toLongLong();
    }
    if (p.type == "float") {
        return p.value.toDouble();
    }
    if (p.type == "bool") {
        return p.value == "true";
    }
    if (p.type == "file" && !p.value.isEmpty()) {
        return folder_.relativeFilePath(QDir(QFileInfo(map_.file).absolutePath()).absoluteFilePath(p.value));
    }
    return p.value;
}

QJsonArray PhaserJson::properties(const std::vector<TiledProperty>& list) const {
    QJsonArray array;
    for (const TiledProperty& p : list) {
        array.append(QJsonObject{{"name", p.name}, {"type", p.type.isEmpty() ? QStringLiteral("string") : p.type}, {"value", property(p)}});
    }
    return array;
}

std::uint32_t PhaserJson::gid(std::uint32_t source) const {
    const ExportSheets::Place place = sheets_.Of(map_, source);
    return place.sheet < 0 ? 0 : placed(place, source);
}

std::uint32_t PhaserJson::placed(ExportSheets::Place place, std::uint32_t source) const {
    return (firstGids_[static_cast<std::size_t>(place.sheet)] + static_cast<std::uint32_t>(place.index)) | (source & GidFlag::Flips);
}

void PhaserJson::common(const TiledLayer& layer, QJsonObject& o) {
    o["id"] = layer.id > 0 ? layer.id : nextLayer_;
    nextLayer_ = std::max(nextLayer_, layer.id + 1);
    o["name"] = layer.name;
    o["visible"] = layer.visible;
    o["opacity"] = layer.opacity;
    o["x"] = 0;
    o["y"] = 0;
    if (!layer.offset.isNull()) {
        o["offsetx"] = layer.offset.x();
        o["offsety"] = layer.offset.y();
    }
    if (layer.tint) {
        o["tintcolor"] = layer.tint->name(QColor::HexArgb);
    }
    if (!layer.properties.empty()) {
        o["properties"] = properties(layer.properties);
    }
}

QJsonObject PhaserJson::object(const TiledObject& object) const {
    QJsonObject o{{"id", object.id},
                  {"name", object.name},
                  {"type", object.type},
                  {"x", object.position.x()},
                  {"y", object.position.y()},
                  {"width", object.size.width()},
                  {"height", object.size.height()},
                  {"rotation", object.rotation},
                  {"visible", object.visible}};
    if (object.kind == ObjectKind::Tile) {
        o["gid"] = static_cast<qint64>(gid(object.gid));
    } else if (object.shape == "ellipse" || object.shape == "point") {
        o[object.shape] = true;
    } else if (object.shape == "polygon" || object.shape == "polyline") {
        QJsonArray points;
        for (const QPointF& point : object.points) {
            points.append(QJsonObject{{"x", point.x()}, {"y", point.y()}});
        }
        o[object.shape] = points;
    }
    if (!object.properties.empty()) {
        o["properties"] = properties(object.properties);
    }
    return o;
}

QJsonArray PhaserJson::layers(const std::vector<TiledLayer>& list) {
    QJsonArray array;
    for (const TiledLayer& layer : list) {
        QJsonObject o;
        common(layer, o);
        switch (layer.kind) {
        case LayerKind::Tiles: {
            ++counts_.layers;
            const int width = map_.size.width();
            const int height = map_.size.height();
            std::vector<std::uint32_t> cells(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
            sheets_.ForEachPlaced(map_, layer, [&](QPoint cell, std::uint32_t source, ExportSheets::Place place) {
                if (cell.x() >= 0 && cell.y() >= 0 && cell.x() < width && cell.y() < height) {
                    cells[static_cast<std::size_t>(cell.y()) * width + cell.x()] = placed(place, source);
                }
            });
            // Written into room for the longest numbers, then cut to what they took.
            QByteArray data(static_cast<qsizetype>(cells.size()) * 11 + 2, Qt::Uninitialized);
            char* at = data.data();
            char* const end = at + data.size();
            *at++ = '[';
            for (std::size_t k = 0; k < cells.size(); ++k) {
                counts_.tiles += cells[k] != 0 ? 1 : 0;
                if (k > 0) {
                    *at++ = ',';
                }
                at = std::to_chars(at, end, cells[k]).ptr;
            }
            *at++ = ']';
            data.truncate(at - data.data());
            o["type"] = "tilelayer";
            o["width"] = width;
            o["height"] = height;
            o["data"] = QStringLiteral("#%1").arg(data_.size());
            data_.push_back(std::move(data));
            break;
        }
        case LayerKind::Objects: {
            QJsonArray objects;
            for (const TiledObject& object : layer.objects) {
                if (object.kind == ObjectKind::Text || object.kind == ObjectKind::Template) {
                    ++counts_.objectsLeftOut;
                    continue;
                }
                objects.append(this->object(object));
                ++counts_.objects;
                nextObject_ = std::max(nextObject_, object.id + 1);
            }
            o["type"] = "objectgroup";
            o["draworder"] = layer.topDown ? "topdown" : "index";
            o["objects"] = objects;
            break;
        }
        case LayerKind::Image:
            o["type"] = "imagelayer";
            o["image"] = layer.image.Empty() ? QString() : folder_.relativeFilePath(layer.image.source);
            o["repeatx"] = layer.repeatX;
            o["repeaty"] = layer.repeatY;
            break;
        case LayerKind::Group:
            o["type"] = "group";
            o["layers"] = layers(layer.layers);
            break;
        }
        array.append(o);
    }
    return array;
}

QJsonObject PhaserJson::tileset(int sheet, std::uint32_t firstGid) const {
    const ExportSheets::Sheet& s = sheets_.Sheets()[static_cast<std::size_t>(sheet)];
    const TileGrid grid = sheets_.Grid(sheet);
    const QSize size = sheets_.SheetSize(sheet);
    QJsonArray tiles;
    for (std::size_t k = 0; k < s.info.size(); ++k) {
        const TiledTile* info = s.info[k];
        if (info == nullptr || (info->properties.empty() && info->type.isEmpty())) {
            continue;
        }
        QJsonObject tile{{"id", static_cast<int>(k)}};
        if (!info->type.isEmpty()) {
            tile["type"] = info->type;
        }
        if (!info->properties.empty()) {
            tile["properties"] = properties(info->properties);
        }
        tiles.append(tile);
    }
    QJsonObject o{{"firstgid", static_cast<qint64>(firstGid)},
                  {"name", s.name},
                  {"image", sheets_.FileName(sheet)},
                  {"imagewidth", size.width()},
                  {"imageheight", size.height()},
                  {"tilewidth", s.tile.width()},
                  {"tileheight", s.tile.height()},
                  {"margin", grid.Margin()},
                  {"spacing", grid.Spacing()},
                  {"columns", s.columns},
                  {"tilecount", sheets_.Capacity(sheet)}};
    if (!tiles.isEmpty()) {
        o["tiles"] = tiles;
    }
    return o;
}

QByteArray PhaserJson::Write() {
    // Each sheet a map draws from, in the order of its tilesets, numbered on from gid 1.
    std::vector<int> used;
    for (const TilesetRef& ref : map_.tilesets) {
        for (const int sheet : sheets_.SheetsOf(*ref.tileset)) {
            if (std::find(used.begin(), used.end(), sheet) == used.end()) {
                used.push_back(sheet);
            }
        }
    }
    QJsonArray tilesets;
    firstGids_.assign(sheets_.Sheets().size(), 0);
    std::uint32_t next = 1;
    for (const int sheet : used) {
        firstGids_[static_cast<std::size_t>(sheet)] = next;
        tilesets.append(tileset(sheet, next));
        // Phaser counts every cell of the sheet's grid, the empty ones after the tiles too.
        next += static_cast<std::uint32_t>(sheets_.Capacity(sheet));
    }
    QJsonObject root{{"type", "map"},
                     {"version", "1.8"},
                     {"tiledversion", "1.8.0"},
                     {"orientation", map_.orientation},
                     {"renderorder", map_.renderOrder.isEmpty() ? QStringLiteral("right-down") : map_.renderOrder},
                     {"width", map_.size.width()},
                     {"height", map_.size.height()},
                     {"tilewidth", map_.tile.width()},
                     {"tileheight", map_.tile.height()},
                     {"infinite", false},
                     {"compressionlevel", -1}};
    root["layers"] = layers(map_.layers);
    root["tilesets"] = tilesets;
    root["nextlayerid"] = nextLayer_;
    root["nextobjectid"] = nextObject_;
    if (map_.background) {
        root["backgroundcolor"] = map_.background->name(map_.background->alpha() == 255 ? QColor::HexRgb : QColor::HexArgb);
    }
    if (!map_.properties.empty()) {
        root["properties"] = properties(map_.properties);
    }
    const QByteArray tree = QJsonDocument(root).toJson(QJsonDocument::Compact);
    // Only tile layers have a key "data", and a quote inside a string is escaped, so each
    // match is one of the placeholders, in the order they were made.
    static const QByteArray key = QByteArrayLiteral("\"data\":\"#");
    QByteArray out;
    qsizetype size = tree.size();
    for (const QByteArray& data : data_) {
        size += data.size();
    }
    out.reserve(size);
    qsizetype from = 0;
    for (const QByteArray& data : data_) {
        const qsizetype at = tree.indexOf(key, from);
        const qsizetype end = tree.indexOf('"', at + key.size());
        out.append(tree.constData() + from, at + 7 - from);
        out.append(data);
        from = end + 1;
    }
    out.append(tree.constData() + from, tree.size() - from);
    return out;
}
}  // namespace

QByteArray PhaserMap(const TiledMap& map, const ExportSheets& sheets, const QString& folder, ExportCounts& counts) {
    return PhaserJson(map, sheets, folder, counts).Write();
}
