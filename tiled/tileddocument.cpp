#include "tiled/tileddocument.h"

#include "runtime/destination.h"
#include "runtime/runtimeerror.h"
#include "runtime/wholefile.h"
#include "tiled/tiledfiles.h"
#include "tiled/tiledvalues.h"
#include "tiled/tiledits.h"
#include "tiled/tmjformat.h"
#include "tiled/tmxformat.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

void TiledDocument::load(const QString& path) {
    file_ = QFileInfo(path).absoluteFilePath();
    const QString suffix = QFileInfo(file_).suffix().toLower();
    json_ = suffix == "tmj" || suffix == "tsj" || suffix == "json";
    std::vector<unsigned char> data;
    ReadWholeFile(file_, data);
    const QByteArray bytes(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
    if (json_) {
        object_ = ParseJsonObject(file_, bytes);
    } else {
        xml_ = ParseXml(file_, bytes);
    }
}

QString TiledDocument::relative(const QString& absolute) const {
    return QFileInfo(LinkTarget(file_)).absoluteDir().relativeFilePath(QFileInfo(absolute).absoluteFilePath());
}

QStringList TiledDocument::References() const {
    QStringList files;
    const QDir base = QFileInfo(file_).absoluteDir();
    // The visit changes nothing, so the document is walked in place.
    const auto note = [&](QString& reference) {
        if (!reference.isEmpty() && !reference.contains(QStringLiteral(":/"))) {
            files += QFileInfo(base.filePath(reference)).absoluteFilePath();
        }
    };
    if (json_) {
        QJsonObject copy = object_;
        ForEachJsonPath(copy, note);
    } else {
        ForEachXmlPath(const_cast<XmlNode&>(xml_), note);
    }
    return files;
}

void TiledDocument::Save(const QString& path) const {
    const QString target = path.isEmpty() ? file_ : QFileInfo(path).absoluteFilePath();
    const QByteArray bytes = Bytes(target);
    WriteWholeFile(target, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QByteArray TiledDocument::Bytes(const QString& path) const {
    const QString target = QFileInfo(path).absoluteFilePath();
    const QDir from = QFileInfo(LinkTarget(file_)).absoluteDir();
    const QDir to = QFileInfo(target).absoluteDir();
    QByteArray bytes;
    if (json_) {
        QJsonObject object = object_;
        if (from != to) {
            RebaseJsonPaths(object, from, to);
        }
        bytes = QJsonDocument(object).toJson(QJsonDocument::Indented);
    } else {
        XmlNode root = xml_;
        if (from != to) {
            RebaseXmlPaths(root, from, to);
        }
        bytes = XmlBytes(root);
    }
    return bytes;
}

TilesetDocument::TilesetDocument(const QString& path) {
    load(path);
    model_ = json_ ? ReadTsjTileset(file_, object_) : ReadTsxTileset(file_, xml_);
    model_.file = file_;
}

void TilesetDocument::SetNumber(const QString& attribute, int value) {
    if (json_) {
        object_[attribute] = value;
    } else {
        xml_.Set(attribute, QString::number(value));
    }
}

void TilesetDocument::SetImage(const QString& source, QSize size) {
    if (json_) {
        object_["image"] = relative(source);
        object_["imagewidth"] = size.width();
        object_["imageheight"] = size.height();
        return;
    }
    XmlNode* image = xml_.Child("image");
    if (image == nullptr) {
        image = &xml_.Insert(XmlNode{XmlNode::Kind::Element, "image", {}, {}, {}}, {"terraintypes", "tile", "wangsets"});
    }
    image->Set("source", relative(source));
    image->Set("width", QString::number(size.width()));
    image->Set("height", QString::number(size.height()));
}

void TilesetDocument::AppendTile(int id, const QString& source, QSize size) {
    if (json_) {
        QJsonArray tiles = object_.value("tiles").toArray();
        tiles.append(QJsonObject{{"id", id}, {"image", relative(source)}, {"imagewidth", size.width()}, {"imageheight", size.height()}});
        object_["tiles"] = tiles;
        return;
    }
    XmlNode tile{XmlNode::Kind::Element, "tile", {}, {{"id", QString::number(id)}}, {}};
    tile.Insert(XmlNode{XmlNode::Kind::Element, "image", {}, {{"width", QString::number(size.width())},
                                                              {"height", QString::number(size.height())},
                                                              {"source", relative(source)}}, {}});
    IndentInside(xml_, tile);
    xml_.Insert(std::move(tile), {"wangsets"});
}

void TilesetDocument::RenumberTiles(const std::function<int(int)>& newId) {
    if (json_) {
        RenumberJsonTiles(object_, newId);
    } else {
        RenumberXmlTiles(xml_, newId);
    }
}

MapDocument::MapDocument(const QString& path) {
    load(path);
    model_ = json_ ? ReadTmjMap(file_, object_) : ReadTmxMap(file_, xml_);
}

void MapDocument::RenumberGids(const std::function<std::uint32_t(std::uint32_t)>& newGid) {
    if (json_) {
        RenumberJsonGids(file_, object_, model_.infinite, newGid);
    } else {
        RenumberXmlGids(file_, xml_, model_.infinite, newGid);
    }
}

void MapDocument::SetTilesets(const std::vector<std::pair<std::uint32_t, QString>>& tilesets) {
    if (json_) {
        QJsonArray list;
        for (const auto& [firstGid, source] : tilesets) {
            list.append(QJsonObject{{"firstgid", static_cast<qint64>(firstGid)}, {"source", relative(source)}});
        }
        object_["tilesets"] = list;
        return;
    }
    xml_.RemoveChildren([](const XmlNode& child) { return child.name == "tileset"; });
    for (const auto& [firstGid, source] : tilesets) {
        xml_.Insert(XmlNode{XmlNode::Kind::Element, "tileset", {}, {{"firstgid", QString::number(firstGid)}, {"source", relative(source)}}, {}},
                    {"layer", "objectgroup", "imagelayer", "group"});
    }
}
