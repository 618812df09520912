#include "tiles/layerdata.h"
#include "tiles/maprewriter.h"
#include "tiles/tiledvalues.h"
#include "tiles/xmltree.h"

#include <QFileInfo>

namespace {
struct Rewrite {
    QString from;
    QString to;
    const GidMap& gids;
    const TileCensus& census;

    QString gid(const QString& text) const {
        return QString::number(gids.Remap(MapGid(from, text), census));
    }

    // Cell data: the <data> of a finite layer or one <chunk>, cells wide by high.
    void cells(XmlNode& data, const QString& encoding, const QString& compression, int width, int height) const {
        if (encoding.isEmpty()) {
            for (XmlNode& tile : data.children) {
                if (tile.kind == XmlNode::Kind::Element && tile.name == "tile" && tile.Has("gid")) {
                    tile.Set("gid", gid(tile.Attr("gid")));
                }
            }
            return;
        }
        // The blanks around the cells stay, so the file keeps its indentation.
        const QString text = data.Text();
        const QString trimmed = text.trimmed();
        const qsizetype lead = trimmed.isEmpty() ? 0 : text.indexOf(trimmed);
        const QString before = text.left(lead);
        const QString after = text.mid(lead + trimmed.size());
        std::vector<std::uint32_t> values =
            DecodeLayerData(from, text, encoding, compression, LayerCells(from, "data", width, height));
        for (std::uint32_t& value : values) {
            value = gids.Remap(value, census);
        }
        std::erase_if(data.children, [](const XmlNode& child) {
            return child.kind == XmlNode::Kind::Text || child.kind == XmlNode::Kind::CData;
        });
        data.children.insert(data.children.begin(),
                             XmlNode{XmlNode::Kind::Text, {}, before + EncodeLayerData(from, values, encoding, compression, width) + after, {}, {}});
    }

    void layer(XmlNode& node) const {
        XmlNode* data = node.Child("data");
        if (data == nullptr) {
            return;
        }
        const QString encoding = data->Attr("encoding");
        const QString compression = data->Attr("compression");
        bool chunked = false;
        for (XmlNode& chunk : data->children) {
            if (chunk.kind == XmlNode::Kind::Element && chunk.name == "chunk") {
                chunked = true;
                cells(chunk, encoding, compression, chunk.Attr("width").toInt(), chunk.Attr("height").toInt());
            }
        }
        if (!chunked) {
            cells(*data, encoding, compression, node.Attr("width").toInt(), node.Attr("height").toInt());
        }
    }

    void element(XmlNode& node, const QString& parent) const {
        if (node.name == "layer") {
            layer(node);
        } else if (node.name == "object") {
            if (node.Has("gid")) {
                node.Set("gid", gid(node.Attr("gid")));
            }
            if (node.Has("template")) {
                node.Set("template", MovedPath(from, to, node.Attr("template")));
            }
        } else if (node.name == "image" && parent == "imagelayer") {
            node.Set("source", MovedPath(from, to, node.Attr("source")));
        } else if (node.name == "property" && node.Attr("type") == "file") {
            node.Set("value", MovedPath(from, to, node.Attr("value")));
        } else if (node.name == "export" && parent == "editorsettings") {
            node.Set("target", MovedPath(from, to, node.Attr("target")));
        }
        for (XmlNode& child : node.children) {
            if (child.kind == XmlNode::Kind::Element) {
                element(child, node.name);
            }
        }
    }
};
}  // namespace

QByteArray RewriteTmx(const QString& from, const QString& to, const QString& tileset, const GidMap& gids,
                      const TileCensus& census) {
    XmlNode root = ParseXml(from, FileBytes(from));
    root.RemoveChildren([](const XmlNode& child) { return child.name == "tileset"; });
    XmlNode ours{XmlNode::Kind::Element, "tileset", {}, {}, {}};
    ours.Set("firstgid", "1");
    ours.Set("source", QFileInfo(tileset).fileName());
    root.Insert(ours, {"layer", "objectgroup", "imagelayer", "group"});
    const Rewrite rewrite{from, to, gids, census};
    for (XmlNode& child : root.children) {
        if (child.kind == XmlNode::Kind::Element) {
            rewrite.element(child, root.name);
        }
    }
    return XmlBytes(root);
}
