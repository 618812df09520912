#include "export/godotobjects.h"

#include "export/godottext.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>

namespace {
constexpr double Pi = 3.14159265358979323846;

QByteArray points(const std::vector<QPointF>& list) {
    QByteArray text = "PackedVector2Array(";
    for (std::size_t k = 0; k < list.size(); ++k) {
        text += (k > 0 ? ", " : "") + GodotNumber(list[k].x()) + ", " + GodotNumber(list[k].y());
    }
    return text + ")";
}

// Where Tiled anchors a tile object's image, as fractions of its size.
QPointF alignment(const QString& alignment, const QString& orientation) {
    const QString a = alignment == "unspecified" || alignment.isEmpty() ? (orientation == "isometric" ? QStringLiteral("bottom") : QStringLiteral("bottomleft")) : alignment;
    const double x = a.endsWith("left") ? 0 : a.endsWith("right") ? 1 : 0.5;
    const double y = a.startsWith("top") ? 0 : a.startsWith("bottom") ? 1 : 0.5;
    return QPointF(x, y);
}
}  // namespace

QByteArray GodotMetadata(const std::vector<TiledProperty>& properties) {
    QByteArray text;
    for (const TiledProperty& property : properties) {
        QString name = property.name;
        name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_]")), QStringLiteral("_"));
        if (name.isEmpty() || name[0].isDigit()) {
            name.prepend('_');
        }
        QByteArray value;
        if (property.type == "bool") {
            value = property.value == "true" ? "true" : "false";
        } else if (property.type == "int" || property.type == "float" || property.type == "object") {
            value = GodotNumber(property.value.toDouble());
        } else {
            value = GodotQuoted(property.value);
        }
        text += "metadata/" + name.toUtf8() + " = " + value + "\n";
    }
    return text;
}

QPointF GodotObjects::screen(QPointF at) const {
    if (map_.orientation != "isometric" || map_.tile.height() == 0) {
        return at;
    }
    // Tiled keeps isometric objects in the map's unturned pixels: rows of tile height.
    const double w = map_.tile.width() / 2.0, h = map_.tile.height();
    return QPointF((at.x() - at.y()) / h * w + map_.size.height() * w, (at.x() + at.y()) / 2.0);
}

QByteArray GodotObjects::Nodes(const TiledLayer& layer, const QString& parent, ExportCounts& counts) {
    QByteArray text;
    std::set<QString> siblings;
    for (const TiledObject& object : layer.objects) {
        if (object.kind == ObjectKind::Text || object.kind == ObjectKind::Template) {
            ++counts.objectsLeftOut;
            continue;
        }
        QByteArray body = object.kind == ObjectKind::Tile ? tileObject(object, counts) : QByteArray();
        if (object.kind == ObjectKind::Tile && body.isEmpty()) {
            continue;
        }
        const QString name = GodotNodeName(object.name, siblings, QStringLiteral("Object%1").arg(object.id));
        const bool marker = object.kind != ObjectKind::Tile &&
                            (object.shape == "point" || ((object.shape == "polygon" || object.shape == "polyline") ? object.points.size() < 2 : object.size.isEmpty()));
        const QByteArray type = object.kind == ObjectKind::Tile ? "Sprite2D" : marker ? "Marker2D" : "Area2D";
        const QPointF at = screen(object.position);
        text += "\n[node name=" + GodotQuoted(name) + " type=\"" + type + "\" parent=" + GodotQuoted(parent) + "]\n";
        if (!at.isNull()) {
            text += "position = " + GodotVector(at.x(), at.y()) + "\n";
        }
        if (object.rotation != 0) {
            text += "rotation = " + GodotNumber(object.rotation * Pi / 180) + "\n";
        }
        if (!object.visible) {
            text += "visible = false\n";
        }
        if (object.opacity != 1.0) {
            text += "modulate = Color(1, 1, 1, " + GodotNumber(object.opacity) + ")\n";
        }
        text += body + "metadata/id = " + QByteArray::number(object.id) + "\n";
        if (!object.name.isEmpty()) {
            text += "metadata/name = " + GodotQuoted(object.name) + "\n";
        }
        if (!object.type.isEmpty()) {
            text += "metadata/class = " + GodotQuoted(object.type) + "\n";
        }
        text += GodotMetadata(object.properties);
        if (type == "Area2D") {
            text += shape(object, parent == "." ? name : parent + "/" + name);
        }
        ++counts.objects;
    }
    return text;
}

QByteArray GodotObjects::tileObject(const TiledObject& object, ExportCounts& counts) {
    const ExportSheets::Place place = sheets_.Of(map_, object.gid);
    const TilesetRef* ref = map_.TilesetOf(GidTile(object.gid));
    // A Sprite2D mirrors but cannot turn its picture a quarter round.
    if (place.sheet < 0 || ref == nullptr || (object.gid & GidFlag::Diagonal) != 0) {
        ++counts.objectsLeftOut;
        return {};
    }
    textures_.insert(place.sheet);
    const ExportSheets::Sheet& sheet = sheets_.Sheets()[static_cast<std::size_t>(place.sheet)];
    const QRect region = sheets_.Grid(place.sheet).Cell(place.index % sheet.columns, place.index / sheet.columns);
    const QSizeF size = object.size.isEmpty() ? QSizeF(sheet.tile) : object.size;
    const QPointF scale(size.width() / sheet.tile.width(), size.height() / sheet.tile.height());
    const QPointF anchor = alignment(ref->tileset->objectAlignment, map_.orientation);
    // Tiled scales the tileoffset with the object, as a part of the tile.
    const QPointF offset(-anchor.x() * sheet.tile.width() + ref->tileset->tileOffset.x(), -anchor.y() * sheet.tile.height() + ref->tileset->tileOffset.y());
    QByteArray text = "texture = ExtResource(\"" + QByteArray::number(place.sheet) + "_texture\")\ncentered = false\n";
    if (!offset.isNull()) {
        text += "offset = " + GodotVector(offset.x(), offset.y()) + "\n";
    }
    if (scale != QPointF(1, 1)) {
        text += "scale = " + GodotVector(scale.x(), scale.y()) + "\n";
    }
    if (object.gid & GidFlag::Horizontal) {
        text += "flip_h = true\n";
    }
    if (object.gid & GidFlag::Vertical) {
        text += "flip_v = true\n";
    }
    return text + "region_enabled = true\nregion_rect = Rect2(" + GodotNumber(region.x()) + ", " + GodotNumber(region.y()) + ", " +
           GodotNumber(region.width()) + ", " + GodotNumber(region.height()) + ")\n";
}

std::vector<QPointF> GodotOutline(const TiledObject& object) {
    std::vector<QPointF> corners;
    const double w = object.size.width(), h = object.size.height();
    if (object.shape == "polygon" || object.shape == "polyline") {
        corners = object.points;
    } else if (object.shape == "ellipse") {
        for (int k = 0; k < 24; ++k) {
            corners.emplace_back(w / 2 + w / 2 * std::cos(2 * Pi * k / 24), h / 2 + h / 2 * std::sin(2 * Pi * k / 24));
        }
    } else if (object.shape == "rectangle") {
        corners = {{0, 0}, {w, 0}, {w, h}, {0, h}};
    }
    return corners;
}

std::vector<QPointF> GodotShape(const TiledObject& object) {
    if (object.shape == "polyline" || object.kind != ObjectKind::Shape) {
        return {};
    }
    std::vector<QPointF> corners = GodotOutline(object);
    const double turn = object.rotation * Pi / 180, c = std::cos(turn), s = std::sin(turn);
    for (QPointF& corner : corners) {
        corner = object.position + QPointF(corner.x() * c - corner.y() * s, corner.x() * s + corner.y() * c);
    }
    return corners;
}

QByteArray GodotObjects::shape(const TiledObject& object, const QString& path) {
    std::vector<QPointF> corners = GodotOutline(object);
    const QPointF at = screen(object.position);
    for (QPointF& corner : corners) {
        corner = screen(object.position + corner) - at;
    }
    QByteArray text = "\n[node name=\"CollisionPolygon2D\" type=\"CollisionPolygon2D\" parent=" + GodotQuoted(path) + "]\n";
    if (object.shape == "polyline") {
        text += "build_mode = 1\n";
    }
    return text + "polygon = " + points(corners) + "\n";
}

QByteArray GodotObjects::ImageLayer(const TiledLayer& layer) {
    if (layer.image.source.isEmpty() || layer.repeatX || layer.repeatY) {
        return {};
    }
    auto copy = pictures_.find(layer.image.source);
    if (copy == pictures_.end()) {
        // Named as the picture, apart from the sheets and the other pictures.
        const QFileInfo info(layer.image.source);
        QString name = info.fileName();
        for (int n = 2;; ++n) {
            bool taken = false;
            for (int sheet = 0; sheet < static_cast<int>(sheets_.Sheets().size()); ++sheet) {
                taken = taken || sheets_.FileName(sheet).compare(name, Qt::CaseInsensitive) == 0;
            }
            for (const auto& [source, other] : pictures_) {
                taken = taken || other.compare(name, Qt::CaseInsensitive) == 0;
            }
            if (!taken) {
                break;
            }
            name = QStringLiteral("%1-%2.%3").arg(info.completeBaseName()).arg(n).arg(info.suffix());
        }
        copy = pictures_.emplace(layer.image.source, name).first;
    }
    const int id = images_.emplace(copy->second, static_cast<int>(images_.size())).first->second;
    return "texture = ExtResource(\"" + QByteArray::number(id) + "_image\")\ncentered = false\n";
}

QByteArray GodotObjects::Resources() const {
    QByteArray text;
    for (const auto& [name, id] : images_) {
        text += "[ext_resource type=\"Texture2D\" path=" + GodotQuoted(res_ + name) + " id=\"" + QByteArray::number(id) + "_image\"]\n";
    }
    for (const int sheet : textures_) {
        text += "[ext_resource type=\"Texture2D\" path=" + GodotQuoted(res_ + sheets_.FileName(sheet)) + " id=\"" + QByteArray::number(sheet) + "_texture\"]\n";
    }
    return text;
}
