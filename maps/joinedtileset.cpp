#include "maps/joinedtileset.h"

#include <algorithm>
#include <set>
#include <unordered_map>

namespace {
void canonical(const XmlNode& node, QByteArray& out) {
    if (node.kind != XmlNode::Kind::Element) {
        if (!node.text.trimmed().isEmpty()) {
            out += node.text.trimmed().toUtf8() + '\n';
        }
        return;
    }
    auto attributes = node.attributes;
    std::sort(attributes.begin(), attributes.end());
    out += '<' + node.name.toUtf8();
    for (const auto& [key, value] : attributes) {
        out += ' ' + key.toUtf8() + "=\"" + value.toUtf8() + '"';
    }
    out += ">\n";
    for (const XmlNode& child : node.children) {
        canonical(child, out);
    }
    out += "</" + node.name.toUtf8() + ">\n";
}

template <typename Visit>
void forEachElement(const XmlNode& parent, const QString& name, Visit&& visit) {
    for (const XmlNode& child : parent.children) {
        if (child.kind == XmlNode::Kind::Element && child.name == name) {
            visit(child);
        }
    }
}

template <typename Visit>
void forEachElement(XmlNode& parent, const QString& name, Visit&& visit) {
    for (XmlNode& child : parent.children) {
        if (child.kind == XmlNode::Kind::Element && child.name == name) {
            visit(child);
        }
    }
}

bool isTileData(const XmlNode& child) {
    return child.name == "image" || child.name == "tile" || child.name == "wangsets";
}
}  // namespace

JoinedTileset::JoinedTileset(std::vector<const XmlNode*> inputs) : inputs_(std::move(inputs)) {
    for (const XmlNode* tileset : inputs_) {
        std::vector<std::int32_t> ids;
        if (const XmlNode* sets = tileset->Child("wangsets")) {
            forEachElement(*sets, "wangset", [&](const XmlNode& set) {
                forEachElement(set, "wangtile", [&](const XmlNode& tile) { ids.push_back(tile.Attr("tileid").toInt()); });
            });
        }
        std::unordered_map<std::int32_t, const XmlNode*> elements;
        forEachElement(*tileset, "tile", [&](const XmlNode& tile) {
            elements.emplace(tile.Attr("id").toInt(), &tile);
            if (const XmlNode* animation = tile.Child("animation")) {
                forEachElement(*animation, "frame", [&](const XmlNode& frame) { ids.push_back(frame.Attr("tileid").toInt()); });
            }
        });
        std::sort(ids.begin(), ids.end());
        fixed_.push_back(std::move(ids));
        elements_.push_back(std::move(elements));
    }
}

const XmlNode* JoinedTileset::TileElement(TileRef ref) const {
    const auto& elements = elements_[static_cast<std::size_t>(ref.tileset)];
    const auto found = elements.find(ref.id);
    return found == elements.end() ? nullptr : found->second;
}

QByteArray JoinedTileset::Metadata(TileRef ref) const {
    const XmlNode* element = TileElement(ref);
    if (element == nullptr) {
        return {};
    }
    XmlNode tile = *element;
    tile.Remove("id");
    for (const char* subRect : {"x", "y", "width", "height"}) {
        tile.Remove(subRect);
    }
    tile.RemoveChildren([](const XmlNode& child) { return child.name == "image"; });
    QByteArray text;
    if (tile.Child("animation") != nullptr) {
        text = "tileset " + QByteArray::number(ref.tileset) + '\n';
    }
    canonical(tile, text);
    return text == "<tile>\n</tile>\n" ? QByteArray() : text;
}

bool JoinedTileset::Orientable(TileRef ref) const {
    const auto& fixed = fixed_[static_cast<std::size_t>(ref.tileset)];
    if (std::binary_search(fixed.begin(), fixed.end(), ref.id)) {
        return false;
    }
    const XmlNode* tile = TileElement(ref);
    return tile == nullptr || (tile->Child("objectgroup") == nullptr && tile->Child("animation") == nullptr);
}

std::vector<TileRef> JoinedTileset::Frames(TileRef ref) const {
    std::vector<TileRef> frames;
    const XmlNode* tile = TileElement(ref);
    if (const XmlNode* animation = tile != nullptr ? tile->Child("animation") : nullptr) {
        forEachElement(*animation, "frame",
                       [&](const XmlNode& frame) { frames.push_back({ref.tileset, frame.Attr("tileid").toInt()}); });
    }
    return frames;
}

XmlNode JoinedTileset::Compose(const TileCensus& census, int columns, const QString& imageSource, QSize imageSize) const {
    const auto newId = [&](std::int32_t tileset, const QString& id) -> std::optional<std::int32_t> {
        const auto placed = census.Find({tileset, id.toInt()});
        return placed && placed->flips == 0 ? std::optional(placed->id) : std::nullopt;
    };
    const std::int32_t first = census.Count() > 0 ? census.Source(0).tileset : 0;
    XmlNode joined = *inputs_[static_cast<std::size_t>(first)];
    for (const char* gone : {"firstgid", "source", "margin", "spacing"}) {
        joined.Remove(gone);
    }
    joined.Set("tilewidth", QString::number(census.TileSize().width()));
    joined.Set("tileheight", QString::number(census.TileSize().height()));
    joined.Set("tilecount", QString::number(census.Count()));
    joined.Set("columns", QString::number(columns));
    joined.RemoveChildren(isTileData);

    // Tileset properties of the others that the first lacks.
    for (std::size_t k = 0; k < inputs_.size(); ++k) {
        const XmlNode* theirs = inputs_[k]->Child("properties");
        if (static_cast<std::int32_t>(k) == first || theirs == nullptr) {
            continue;
        }
        XmlNode* ours = joined.Child("properties");
        if (ours == nullptr) {
            ours = &joined.Insert(XmlNode{XmlNode::Kind::Element, "properties", {}, {}, {}});
        }
        forEachElement(*theirs, "property", [&](const XmlNode& property) {
            bool known = false;
            forEachElement(*ours, "property", [&](const XmlNode& p) { known = known || p.Attr("name") == property.Attr("name"); });
            if (!known) {
                ours->Insert(property);
            }
        });
    }

    XmlNode image{XmlNode::Kind::Element, "image", {}, {}, {}};
    image.Set("source", imageSource);
    image.Set("width", QString::number(imageSize.width()));
    image.Set("height", QString::number(imageSize.height()));
    joined.Insert(image);

    for (std::int32_t id = 0; id < census.Count(); ++id) {
        const TileRef source = census.Source(id);
        const XmlNode* element = TileElement(source);
        if (element == nullptr || Metadata(source).isEmpty()) {
            continue;
        }
        XmlNode tile = *element;
        tile.Set("id", QString::number(id));
        for (const char* subRect : {"x", "y", "width", "height"}) {
            tile.Remove(subRect);
        }
        tile.RemoveChildren([](const XmlNode& child) { return child.name == "image"; });
        if (XmlNode* animation = tile.Child("animation")) {
            forEachElement(*animation, "frame", [&](XmlNode& frame) {
                frame.Set("tileid", QString::number(newId(source.tileset, frame.Attr("tileid")).value_or(0)));
            });
        }
        joined.Insert(tile);
    }

    XmlNode wangSets{XmlNode::Kind::Element, "wangsets", {}, {}, {}};
    for (std::size_t k = 0; k < inputs_.size(); ++k) {
        const auto tileset = static_cast<std::int32_t>(k);
        const XmlNode* sets = inputs_[k]->Child("wangsets");
        if (sets == nullptr) {
            continue;
        }
        forEachElement(*sets, "wangset", [&](const XmlNode& input) {
            XmlNode set = input;
            const auto renumber = [&](XmlNode& element) {
                if (element.Has("tile") && element.Attr("tile") != "-1") {
                    element.Set("tile", QString::number(newId(tileset, element.Attr("tile")).value_or(-1)));
                }
            };
            renumber(set);
            forEachElement(set, "wangcolor", renumber);
            std::set<std::int32_t> kept;
            set.RemoveChildren([&](XmlNode& child) {
                if (child.name != "wangtile") {
                    return false;
                }
                const auto id = newId(tileset, child.Attr("tileid"));
                if (!id || !kept.insert(*id).second) {
                    return true;
                }
                child.Set("tileid", QString::number(*id));
                return false;
            });
            wangSets.Insert(set);
        });
    }
    if (!wangSets.children.empty()) {
        joined.Insert(wangSets);
    }
    return joined;
}
