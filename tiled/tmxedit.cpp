#include "tiled/tiledits.h"

#include "tiled/layerdata.h"
#include "tiled/tiledvalues.h"

#include <QFileInfo>

#include <vector>

namespace {
QString rebased(const QString& reference, const QDir& from, const QDir& to) {
    if (reference.isEmpty() || QFileInfo(reference).isAbsolute() || reference.contains(QStringLiteral(":/"))) {
        return reference;
    }
    return to.relativeFilePath(QFileInfo(from.filePath(reference)).absoluteFilePath());
}

template <typename Visit>
void forElements(XmlNode& node, const QString& name, Visit&& visit) {
    for (XmlNode& child : node.children) {
        if (child.kind == XmlNode::Kind::Element && child.name == name) {
            visit(child);
        }
    }
}

// The text of data or a chunk renumbered, in its own encoding; <tile gid> elements in place.
void renumberData(const QString& file, XmlNode& holder, const XmlNode& data, QSize size,
                  const std::function<std::uint32_t(std::uint32_t)>& newGid) {
    const QString encoding = data.Attr("encoding");
    if (encoding.isEmpty()) {
        forElements(holder, "tile", [&](XmlNode& tile) {
            const std::uint32_t gid = newGid(MapGid(file, tile.Attr("gid", "0")));
            if (gid == 0) {
                tile.Remove("gid");
            } else {
                tile.Set("gid", QString::number(gid));
            }
        });
        return;
    }
    const QString compression = data.Attr("compression");
    const std::size_t cells = LayerCells(file, QString(), size.width(), size.height());
    std::vector<std::uint32_t> gids = DecodeLayerData(file, holder.Text(), encoding, compression, cells);
    for (std::uint32_t& gid : gids) {
        gid = newGid(gid);
    }
    // Chunks and data keep their blank before the closing tag.
    const QString text = EncodeLayerData(file, gids, encoding, compression, size.width());
    std::erase_if(holder.children, [](const XmlNode& child) { return child.kind != XmlNode::Kind::Element; });
    holder.children.insert(holder.children.begin(), XmlNode{XmlNode::Kind::Text, {}, text, {}, {}});
}

void renumberLayers(const QString& file, XmlNode& map, bool infinite, const std::function<std::uint32_t(std::uint32_t)>& newGid) {
    std::vector<XmlNode*> parents{&map};
    while (!parents.empty()) {
        XmlNode& parent = *parents.back();
        parents.pop_back();
        for (XmlNode& node : parent.children) {
            if (node.kind != XmlNode::Kind::Element) {
                continue;
            }
            if (node.name == "group") {
                parents.push_back(&node);
            } else if (node.name == "objectgroup") {
                forElements(node, "object", [&](XmlNode& object) {
                    if (object.Has("gid")) {
                        object.Set("gid", QString::number(newGid(MapGid(file, object.Attr("gid")))));
                    }
                });
            } else if (node.name == "layer" && node.Child("data") != nullptr) {
                XmlNode& data = *node.Child("data");
                if (!infinite) {
                    renumberData(file, data, data, QSize(node.Attr("width").toInt(), node.Attr("height").toInt()), newGid);
                    continue;
                }
                forElements(data, "chunk", [&](XmlNode& chunk) {
                    renumberData(file, chunk, data, QSize(chunk.Attr("width").toInt(), chunk.Attr("height").toInt()), newGid);
                });
            }
        }
    }
}
}  // namespace

void ForEachXmlPath(XmlNode& root, const std::function<void(QString&)>& visit) {
    // A list of elements to visit rather than recursion: the file sets how deep it goes.
    std::vector<XmlNode*> pending{&root};
    while (!pending.empty()) {
        XmlNode& node = *pending.back();
        pending.pop_back();
        // A property of type file names a path as well.
        const bool file = node.name == "property" && node.Attr("type") == "file";
        for (auto& [key, value] : node.attributes) {
            if (key == "source" || key == "template" || (file && key == "value")) {
                visit(value);
            }
        }
        for (XmlNode& child : node.children) {
            if (child.kind == XmlNode::Kind::Element) {
                pending.push_back(&child);
            }
        }
    }
}

void RebaseXmlPaths(XmlNode& root, const QDir& from, const QDir& to) {
    ForEachXmlPath(root, [&](QString& value) { value = rebased(value, from, to); });
}

void IndentInside(const XmlNode& parent, XmlNode& element) {
    QString blank = QStringLiteral("\n ");
    for (std::size_t k = 0; k + 1 < parent.children.size(); ++k) {
        if (parent.children[k].kind == XmlNode::Kind::Text && parent.children[k + 1].kind == XmlNode::Kind::Element) {
            blank = parent.children[k].text;
            break;
        }
    }
    for (std::size_t k = 0; k < element.children.size(); ++k) {
        if (element.children[k].kind == XmlNode::Kind::Text) {
            element.children[k].text = k + 1 == element.children.size() ? blank : blank + ' ';
        }
    }
}

void RenumberXmlTiles(XmlNode& tileset, const std::function<int(int)>& newId) {
    const auto renumber = [&](XmlNode& node, const QString& attribute) {
        const int id = newId(node.Attr(attribute).toInt());
        node.Set(attribute, QString::number(id));
        return id < 0;
    };
    tileset.RemoveChildren([&](XmlNode& tile) {
        if (tile.name != "tile") {
            return false;
        }
        if (XmlNode* animation = tile.Child("animation")) {
            animation->RemoveChildren([&](XmlNode& frame) { return frame.name == "frame" && renumber(frame, "tileid"); });
        }
        return renumber(tile, "id");
    });
    if (XmlNode* sets = tileset.Child("wangsets")) {
        forElements(*sets, "wangset", [&](XmlNode& set) {
            set.RemoveChildren([&](XmlNode& w) { return w.name == "wangtile" && renumber(w, "tileid"); });
            if (set.Has("tile") && set.Attr("tile") != "-1") {
                renumber(set, "tile");
            }
        });
    }
}

void RenumberXmlGids(const QString& file, XmlNode& map, bool infinite, const std::function<std::uint32_t(std::uint32_t)>& newGid) {
    renumberLayers(file, map, infinite, newGid);
}
