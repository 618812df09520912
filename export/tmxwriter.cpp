#include "export/tmxwriter.h"

#include "tiled/xmlfile.h"

#include <QXmlStreamWriter>

namespace {
QString number(double value) { return QString::number(value, 'g', 10); }

void properties(QXmlStreamWriter& xml, const std::vector<TiledProperty>& list) {
    if (list.empty()) {
        return;
    }
    xml.writeStartElement("properties");
    for (const TiledProperty& p : list) {
        xml.writeStartElement("property");
        xml.writeAttribute("name", p.name);
        if (!p.type.isEmpty()) {
            xml.writeAttribute("type", p.type);
        }
        // Tiled keeps text of several lines as the element's text, not an attribute.
        if (p.value.contains('\n')) {
            xml.writeCharacters(p.value);
        } else {
            xml.writeAttribute("value", p.value);
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
}

void common(QXmlStreamWriter& xml, const TiledLayer& layer) {
    xml.writeAttribute("id", QString::number(layer.id));
    xml.writeAttribute("name", layer.name);
    if (!layer.visible) {
        xml.writeAttribute("visible", "0");
    }
    if (layer.opacity != 1.0) {
        xml.writeAttribute("opacity", number(layer.opacity));
    }
    if (layer.offset.x() != 0) {
        xml.writeAttribute("offsetx", number(layer.offset.x()));
    }
    if (layer.offset.y() != 0) {
        xml.writeAttribute("offsety", number(layer.offset.y()));
    }
}

QString csv(const TiledLayer& layer) {
    QString text = QStringLiteral("\n");
    const std::vector<std::uint32_t>& gids = layer.chunks.front().gids;
    const int width = layer.size.width();
    for (std::size_t k = 0; k < gids.size(); ++k) {
        text += QString::number(gids[k]);
        if (k + 1 < gids.size()) {
            text += ',';
        }
        if ((k + 1) % static_cast<std::size_t>(width) == 0) {
            text += '\n';
        }
    }
    return text;
}

void object(QXmlStreamWriter& xml, const TiledObject& o) {
    xml.writeStartElement("object");
    xml.writeAttribute("id", QString::number(o.id));
    if (!o.name.isEmpty()) {
        xml.writeAttribute("name", o.name);
    }
    if (!o.type.isEmpty()) {
        xml.writeAttribute("class", o.type);
    }
    if (o.gid != 0) {
        xml.writeAttribute("gid", QString::number(o.gid));
    }
    xml.writeAttribute("x", number(o.position.x()));
    xml.writeAttribute("y", number(o.position.y()));
    if (!o.size.isEmpty()) {
        xml.writeAttribute("width", number(o.size.width()));
        xml.writeAttribute("height", number(o.size.height()));
    }
    properties(xml, o.properties);
    if (o.kind == ObjectKind::Shape && o.size.isEmpty()) {
        xml.writeEmptyElement("point");
    }
    xml.writeEndElement();
}
}  // namespace

QByteArray TmxMap(const TiledMap& map, const std::vector<QString>& tilesetFiles, const std::vector<QString>& imageFiles) {
    return XmlBytes([&](QXmlStreamWriter& xml) {
        int nextLayer = 1, nextObject = 1;
        ForEachLayer(map.layers, [&](const TiledLayer& layer) {
            nextLayer = std::max(nextLayer, layer.id + 1);
            for (const TiledObject& o : layer.objects) {
                nextObject = std::max(nextObject, o.id + 1);
            }
        });
        xml.writeStartElement("map");
        xml.writeAttribute("version", "1.10");
        xml.writeAttribute("orientation", "orthogonal");
        xml.writeAttribute("renderorder", "right-down");
        xml.writeAttribute("width", QString::number(map.size.width()));
        xml.writeAttribute("height", QString::number(map.size.height()));
        xml.writeAttribute("tilewidth", QString::number(map.tile.width()));
        xml.writeAttribute("tileheight", QString::number(map.tile.height()));
        xml.writeAttribute("infinite", "0");
        if (map.background) {
            xml.writeAttribute("backgroundcolor", map.background->name(QColor::HexArgb));
        }
        xml.writeAttribute("nextlayerid", QString::number(nextLayer));
        xml.writeAttribute("nextobjectid", QString::number(nextObject));
        properties(xml, map.properties);
        for (std::size_t k = 0; k < map.tilesets.size(); ++k) {
            xml.writeStartElement("tileset");
            xml.writeAttribute("firstgid", QString::number(map.tilesets[k].firstGid));
            xml.writeAttribute("source", tilesetFiles[k]);
            xml.writeEndElement();
        }
        std::size_t image = 0;
        for (const TiledLayer& layer : map.layers) {
            switch (layer.kind) {
            case LayerKind::Tiles:
                xml.writeStartElement("layer");
                common(xml, layer);
                xml.writeAttribute("width", QString::number(layer.size.width()));
                xml.writeAttribute("height", QString::number(layer.size.height()));
                properties(xml, layer.properties);
                xml.writeStartElement("data");
                xml.writeAttribute("encoding", "csv");
                xml.writeCharacters(csv(layer));
                xml.writeEndElement();
                break;
            case LayerKind::Objects:
                xml.writeStartElement("objectgroup");
                common(xml, layer);
                if (!layer.topDown) {
                    xml.writeAttribute("draworder", "index");
                }
                properties(xml, layer.properties);
                for (const TiledObject& o : layer.objects) {
                    object(xml, o);
                }
                break;
            case LayerKind::Image:
                xml.writeStartElement("imagelayer");
                common(xml, layer);
                properties(xml, layer.properties);
                xml.writeStartElement("image");
                xml.writeAttribute("source", imageFiles[image++]);
                xml.writeAttribute("width", QString::number(layer.image.size.width()));
                xml.writeAttribute("height", QString::number(layer.image.size.height()));
                xml.writeEndElement();
                break;
            case LayerKind::Group:
                xml.writeStartElement("group");
                common(xml, layer);
                break;
            }
            xml.writeEndElement();
        }
        xml.writeEndElement();
    });
}

QByteArray TsxTileset(const TiledTileset& tileset, const QString& image, QSize imageSize) {
    return XmlBytes([&](QXmlStreamWriter& xml) {
        xml.writeStartElement("tileset");
        xml.writeAttribute("version", "1.10");
        xml.writeAttribute("name", tileset.name);
        xml.writeAttribute("tilewidth", QString::number(tileset.tile.width()));
        xml.writeAttribute("tileheight", QString::number(tileset.tile.height()));
        if (tileset.spacing != 0) {
            xml.writeAttribute("spacing", QString::number(tileset.spacing));
        }
        if (tileset.margin != 0) {
            xml.writeAttribute("margin", QString::number(tileset.margin));
        }
        xml.writeAttribute("tilecount", QString::number(tileset.tileCount));
        xml.writeAttribute("columns", QString::number(tileset.columns));
        xml.writeStartElement("image");
        xml.writeAttribute("source", image);
        xml.writeAttribute("width", QString::number(imageSize.width()));
        xml.writeAttribute("height", QString::number(imageSize.height()));
        xml.writeEndElement();
        for (const auto& [id, tile] : tileset.tiles) {
            if (!tile.properties.empty()) {
                xml.writeStartElement("tile");
                xml.writeAttribute("id", QString::number(id));
                properties(xml, tile.properties);
                xml.writeEndElement();
            }
        }
        xml.writeEndElement();
    });
}
