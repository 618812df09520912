#include "tiles/layerdata.h"
#include "tiles/maprewriter.h"
#include "tiles/tiledvalues.h"
#include "tiles/tmjformat.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
struct Rewrite {
    QString from;
    QString to;
    const GidMap& gids;
    const TileCensus& census;

    QJsonValue gid(const QJsonValue& value) const {
        return QJsonValue(static_cast<qint64>(gids.Remap(static_cast<std::uint32_t>(value.toInteger()), census)));
    }

    // Cell data of a finite layer or one chunk: a JSON array of gids or a base64 text.
    QJsonValue cells(const QJsonValue& data, const QString& encoding, const QString& compression, int width,
                     int height) const {
        if (data.isArray()) {
            QJsonArray array = data.toArray();
            for (qsizetype k = 0; k < array.size(); ++k) {
                array[k] = gid(array[k]);
            }
            return array;
        }
        std::vector<std::uint32_t> values =
            DecodeLayerData(from, data.toString(), encoding, compression, LayerCells(from, "data", width, height));
        for (std::uint32_t& value : values) {
            value = gids.Remap(value, census);
        }
        return EncodeLayerData(from, values, encoding, compression, width);
    }

    QJsonArray properties(QJsonArray list) const {
        for (qsizetype k = 0; k < list.size(); ++k) {
            QJsonObject property = list[k].toObject();
            if (property.value("type").toString() == "file") {
                property["value"] = MovedPath(from, to, property.value("value").toString());
                list[k] = property;
            }
        }
        return list;
    }

    QJsonObject object(QJsonObject o) const {
        if (o.contains("gid")) {
            o["gid"] = gid(o.value("gid"));
        }
        if (o.contains("template")) {
            o["template"] = MovedPath(from, to, o.value("template").toString());
        }
        if (o.contains("properties")) {
            o["properties"] = properties(o.value("properties").toArray());
        }
        return o;
    }

    QJsonArray layers(QJsonArray list) const {
        for (qsizetype k = 0; k < list.size(); ++k) {
            QJsonObject layer = object(list[k].toObject());
            const QString type = layer.value("type").toString();
            const QString encoding = layer.value("encoding").toString("csv");
            const QString compression = layer.value("compression").toString();
            if (type == "tilelayer" && layer.contains("chunks")) {
                QJsonArray chunks = layer.value("chunks").toArray();
                for (qsizetype c = 0; c < chunks.size(); ++c) {
                    QJsonObject chunk = chunks[c].toObject();
                    chunk["data"] = cells(chunk.value("data"), encoding, compression, chunk.value("width").toInt(),
                                          chunk.value("height").toInt());
                    chunks[c] = chunk;
                }
                layer["chunks"] = chunks;
            } else if (type == "tilelayer" && layer.contains("data")) {
                layer["data"] = cells(layer.value("data"), encoding, compression, layer.value("width").toInt(),
                                      layer.value("height").toInt());
            } else if (type == "objectgroup") {
                QJsonArray objects = layer.value("objects").toArray();
                for (qsizetype o = 0; o < objects.size(); ++o) {
                    objects[o] = object(objects[o].toObject());
                }
                layer["objects"] = objects;
            } else if (type == "imagelayer") {
                layer["image"] = MovedPath(from, to, layer.value("image").toString());
            } else if (type == "group") {
                layer["layers"] = layers(layer.value("layers").toArray());
            }
            list[k] = layer;
        }
        return list;
    }
};
}  // namespace

QByteArray RewriteTmj(const QString& from, const QString& to, const QString& tileset, const GidMap& gids,
                      const TileCensus& census) {
    QJsonObject root = ParseJsonObject(from, FileBytes(from));
    const Rewrite rewrite{from, to, gids, census};
    root["tilesets"] = QJsonArray{QJsonObject{{"firstgid", 1}, {"source", QFileInfo(tileset).fileName()}}};
    root["layers"] = rewrite.layers(root.value("layers").toArray());
    if (root.contains("properties")) {
        root["properties"] = rewrite.properties(root.value("properties").toArray());
    }
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}
