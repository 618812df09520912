#include "tiled/tiledits.h"

#include "tiled/layerdata.h"
#include "tiled/tiledvalues.h"

#include <QFileInfo>
#include <QJsonArray>

namespace {
// Qt reads no JSON nested more than 1024 deep, which bounds this recursion.
QJsonValue visitedValue(const QJsonValue& value, const std::function<void(QString&)>& visit) {
    if (value.isArray()) {
        QJsonArray out;
        for (const QJsonValue& item : value.toArray()) {
            out.append(visitedValue(item, visit));
        }
        return out;
    }
    if (value.isObject()) {
        QJsonObject object = value.toObject();
        ForEachJsonPath(object, visit);
        return object;
    }
    return value;
}

std::uint32_t gidOf(const QString& file, const QJsonValue& value) {
    return MapGid(file, QString::number(value.toInteger(-1)));
}

// A layer's or chunk's data renumbered, as an array or a string in the layer's encoding.
QJsonValue renumberedData(const QString& file, const QJsonObject& layer, const QJsonValue& data, QSize size,
                          const std::function<std::uint32_t(std::uint32_t)>& newGid) {
    if (data.isArray()) {
        QJsonArray out;
        for (const QJsonValue& gid : data.toArray()) {
            out.append(static_cast<qint64>(newGid(gidOf(file, gid))));
        }
        return out;
    }
    const QString compression = layer.value("compression").toString();
    const std::size_t cells = LayerCells(file, layer.value("name").toString(), size.width(), size.height());
    std::vector<std::uint32_t> gids = DecodeLayerData(file, data.toString(), "base64", compression, cells);
    for (std::uint32_t& gid : gids) {
        gid = newGid(gid);
    }
    return EncodeLayerData(file, gids, "base64", compression, size.width()).trimmed();
}

QSize sizeOf(const QJsonObject& o) { return QSize(o.value("width").toInt(), o.value("height").toInt()); }

QJsonArray renumberedLayers(const QString& file, const QJsonArray& layers, bool infinite,
                            const std::function<std::uint32_t(std::uint32_t)>& newGid) {
    QJsonArray out;
    for (const QJsonValue& value : layers) {
        QJsonObject layer = value.toObject();
        const QString type = layer.value("type").toString();
        if (type == "group") {
            layer["layers"] = renumberedLayers(file, layer.value("layers").toArray(), infinite, newGid);
        } else if (type == "objectgroup") {
            QJsonArray objects;
            for (const QJsonValue& item : layer.value("objects").toArray()) {
                QJsonObject object = item.toObject();
                if (object.contains("gid")) {
                    object["gid"] = static_cast<qint64>(newGid(gidOf(file, object.value("gid"))));
                }
                objects.append(object);
            }
            layer["objects"] = objects;
        } else if (type == "tilelayer" && !infinite) {
            layer["data"] = renumberedData(file, layer, layer.value("data"), sizeOf(layer), newGid);
        } else if (type == "tilelayer") {
            QJsonArray chunks;
            for (const QJsonValue& item : layer.value("chunks").toArray()) {
                QJsonObject chunk = item.toObject();
                chunk["data"] = renumberedData(file, layer, chunk.value("data"), sizeOf(chunk), newGid);
                chunks.append(chunk);
            }
            layer["chunks"] = chunks;
        }
        out.append(layer);
    }
    return out;
}

// The array with each object's id key renumbered; objects whose id becomes -1 dropped.
QJsonArray renumbered(const QJsonArray& array, const char* key, const std::function<int(int)>& newId,
                      const std::function<void(QJsonObject&)>& inside = {}) {
    QJsonArray out;
    for (const QJsonValue& value : array) {
        QJsonObject object = value.toObject();
        const int id = newId(object.value(key).toInt());
        if (id < 0) {
            continue;
        }
        object[key] = id;
        if (inside) {
            inside(object);
        }
        out.append(object);
    }
    return out;
}
}  // namespace

void ForEachJsonPath(QJsonObject& object, const std::function<void(QString&)>& visit) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QString key = it.key();
        const bool file = key == "value" && object.value("type").toString() == "file";
        if ((key == "image" || key == "source" || key == "template" || file) && it.value().isString()) {
            QString reference = it.value().toString();
            visit(reference);
            if (reference != it.value().toString()) {
                it.value() = reference;
            }
        } else if (it.value().isArray() || it.value().isObject()) {
            it.value() = visitedValue(it.value(), visit);
        }
    }
}

void RebaseJsonPaths(QJsonObject& object, const QDir& from, const QDir& to) {
    ForEachJsonPath(object, [&](QString& reference) {
        if (!reference.isEmpty() && !QFileInfo(reference).isAbsolute()) {
            reference = to.relativeFilePath(QFileInfo(from.filePath(reference)).absoluteFilePath());
        }
    });
}

void RenumberJsonTiles(QJsonObject& tileset, const std::function<int(int)>& newId) {
    tileset["tiles"] = renumbered(tileset.value("tiles").toArray(), "id", newId, [&](QJsonObject& tile) {
        if (tile.contains("animation")) {
            tile["animation"] = renumbered(tile.value("animation").toArray(), "tileid", newId);
        }
    });
    if (tileset.contains("wangsets")) {
        QJsonArray sets;
        for (const QJsonValue& value : tileset.value("wangsets").toArray()) {
            QJsonObject set = value.toObject();
            set["wangtiles"] = renumbered(set.value("wangtiles").toArray(), "tileid", newId);
            if (set.value("tile").toInt(-1) >= 0) {
                set["tile"] = newId(set.value("tile").toInt());
            }
            sets.append(set);
        }
        tileset["wangsets"] = sets;
    }
}

void RenumberJsonGids(const QString& file, QJsonObject& map, bool infinite,
                      const std::function<std::uint32_t(std::uint32_t)>& newGid) {
    map["layers"] = renumberedLayers(file, map.value("layers").toArray(), infinite, newGid);
}
