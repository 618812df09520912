#include "tiled/tmxformat.h"

#include "runtime/limits.h"
#include "tiled/layerdata.h"
#include "tiled/templates.h"
#include "tiled/tiledfiles.h"
#include "tiled/tiledvalues.h"

namespace {

template <typename Visit>
void forChildren(const XmlNode& node, const QString& name, Visit&& visit) {
    for (const XmlNode& child : node.children) {
        if (child.kind == XmlNode::Kind::Element && child.name == name) {
            visit(child);
        }
    }
}

std::vector<TiledProperty> properties(const XmlNode& node) {
    std::vector<TiledProperty> list;
    if (const XmlNode* all = node.Child("properties")) {
        forChildren(*all, "property", [&](const XmlNode& p) {
            list.push_back({p.Attr("name"), p.Attr("type"), p.Has("value") ? p.Attr("value") : p.Text()});
        });
    }
    return list;
}

TiledImage image(const QString& file, const XmlNode* node) {
    TiledImage result;
    if (node == nullptr) {
        return result;
    }
    if (node->Attr("source").isEmpty()) {
        // An embedded image (1.11): the file's bytes in <data>, base64 or as they are.
        const XmlNode* data = node->Child("data");
        if (data == nullptr) {
            return result;
        }
        result.data = EmbeddedImage(file, data->Attr("encoding"), data->Text());
    } else {
        result.source = PathBeside(file, node->Attr("source"));
    }
    result.size = QSize(MapNumber(file, "image width", node->Attr("width"), 0, Limits::PictureSide),
                        MapNumber(file, "image height", node->Attr("height"), 0, Limits::PictureSide));
    if (const auto trans = MapColour(file, "trans", node->Attr("trans"))) {
        result.trans = trans->rgb();
    }
    return result;
}

TiledTile tile(const QString& file, const XmlNode& node) {
    TiledTile result;
    result.id = MapNumber(file, "tile id", node.Attr("id"), 0, Limits::TileId);
    result.type = node.Attr("class", node.Attr("type"));
    result.properties = properties(node);
    result.probability = MapReal(file, "probability", node.Attr("probability"), 1.0);
    result.image = image(file, node.Child("image"));
    result.imageRect = ImageRect(file, node.Attr("x"), node.Attr("y"), node.Attr("width"), node.Attr("height"));
    if (const XmlNode* objects = node.Child("objectgroup")) {
        forChildren(*objects, "object", [&](const XmlNode& object) {
            ++result.collisionObjects;
            result.collision.push_back(ReadTmxObject(file, object));
        });
    }
    if (const XmlNode* animation = node.Child("animation")) {
        forChildren(*animation, "frame", [&](const XmlNode& frame) {
            result.animation.push_back({MapNumber(file, "frame tileid", frame.Attr("tileid"), 0, Limits::TileId),
                                        MapNumber(file, "frame duration", frame.Attr("duration"), 0, 1 << 30)});
        });
    }
    return result;
}

void commonLayer(const QString& file, const XmlNode& node, TiledLayer& layer) {
    layer.id = MapNumber(file, "layer id", node.Attr("id"), 0, 1 << 30);
    layer.name = node.Attr("name");
    layer.className = node.Attr("class");
    layer.visible = node.Attr("visible", "1") != "0";
    layer.opacity = std::clamp(MapReal(file, "opacity", node.Attr("opacity"), 1.0), 0.0, 1.0);
    layer.offset = QPointF(MapReal(file, "offsetx", node.Attr("offsetx")), MapReal(file, "offsety", node.Attr("offsety")));
    layer.tint = MapColour(file, "tintcolor", node.Attr("tintcolor"));
    layer.mode = node.Attr("mode", "normal");
    layer.properties = properties(node);
}

// The gids of a <data> or <chunk>: text in the layer's encoding, or <tile gid> elements.
std::vector<std::uint32_t> gids(const QString& file, const XmlNode& node, const TiledLayer& layer, std::size_t cells) {
    if (!layer.encoding.isEmpty()) {
        return DecodeLayerData(file, node.Text(), layer.encoding, layer.compression, cells);
    }
    std::vector<std::uint32_t> list;
    bool tooMany = false;
    forChildren(node, "tile", [&](const XmlNode& tile) {
        tooMany = tooMany || list.size() == cells;
        if (!tooMany) {
            list.push_back(MapGid(file, tile.Attr("gid", "0")));
        }
    });
    if (tooMany || list.size() != cells) {
        InvalidMapFile(file, QStringLiteral("layer \"%1\" holds %2 cells, not %3")
                                 .arg(layer.name, tooMany ? QStringLiteral("more") : QString::number(list.size()))
                                 .arg(cells));
    }
    return list;
}

TiledLayer tileLayer(const QString& file, const XmlNode& node, bool infinite) {
    TiledLayer layer;
    layer.kind = LayerKind::Tiles;
    commonLayer(file, node, layer);
    layer.size = QSize(MapNumber(file, "layer width", node.Attr("width"), 0, Limits::PictureSide),
                       MapNumber(file, "layer height", node.Attr("height"), 0, Limits::PictureSide));
    const XmlNode* data = node.Child("data");
    if (data == nullptr) {
        return layer;
    }
    layer.encoding = data->Attr("encoding");
    layer.compression = data->Attr("compression");
    if (!infinite) {
        const std::size_t cells = LayerCells(file, layer.name, layer.size.width(), layer.size.height());
        layer.chunks.push_back({QRect(QPoint(0, 0), layer.size), gids(file, *data, layer, cells)});
        return layer;
    }
    std::size_t total = 0;
    forChildren(*data, "chunk", [&](const XmlNode& chunk) {
        const QRect area(MapNumber(file, "chunk x", chunk.Attr("x"), -Limits::PictureSide, Limits::PictureSide),
                         MapNumber(file, "chunk y", chunk.Attr("y"), -Limits::PictureSide, Limits::PictureSide),
                         MapNumber(file, "chunk width", chunk.Attr("width"), 0, Limits::PictureSide),
                         MapNumber(file, "chunk height", chunk.Attr("height"), 0, Limits::PictureSide));
        const std::size_t cells = LayerCells(file, layer.name, area.width(), area.height());
        total += cells;
        LayerCells(file, layer.name, static_cast<qint64>(total), 1);
        layer.chunks.push_back({area, gids(file, chunk, layer, cells)});
    });
    return layer;
}

}  // namespace

TiledObject ReadTmxObject(const QString& file, const XmlNode& node) {
    TiledObject result;
    result.id = MapNumber(file, "object id", node.Attr("id"), 0, 1 << 30);
    result.name = node.Attr("name");
    result.type = node.Attr("class", node.Attr("type"));
    result.position = QPointF(MapReal(file, "object x", node.Attr("x")), MapReal(file, "object y", node.Attr("y")));
    result.size = QSizeF(MapReal(file, "object width", node.Attr("width")), MapReal(file, "object height", node.Attr("height")));
    result.rotation = MapReal(file, "rotation", node.Attr("rotation"));
    result.visible = node.Attr("visible", "1") != "0";
    result.opacity = std::clamp(MapReal(file, "object opacity", node.Attr("opacity"), 1.0), 0.0, 1.0);
    result.gid = node.Has("gid") ? MapGid(file, node.Attr("gid")) : 0;
    const bool text = node.Child("text") != nullptr;
    const bool shape = text || node.Child("ellipse") || node.Child("point") || node.Child("polygon") || node.Child("polyline");
    result.kind = result.gid != 0 ? ObjectKind::Tile : text ? ObjectKind::Text : ObjectKind::Shape;
    const std::pair<const char*, unsigned> given[] = {{"rotation", TiledObject::Rotation},
                                                      {"visible", TiledObject::Visible}, {"opacity", TiledObject::Opacity}};
    for (const auto& [attribute, bit] : given) {
        result.given |= node.Has(attribute) ? bit : 0u;
    }
    // As Tiled reads an instance: a name, class or size (both sides) of its own only where given.
    result.given |= (result.name.isEmpty() ? 0u : TiledObject::Name) | (result.type.isEmpty() ? 0u : TiledObject::Type) |
                    (result.size.isEmpty() ? 0u : TiledObject::Size) | (result.gid == 0 ? 0u : TiledObject::Gid);
    result.given |= (shape ? TiledObject::Shape : 0u) | (result.kind == ObjectKind::Text ? TiledObject::Text : 0u);
    if (node.Has("template")) {
        result.kind = ObjectKind::Template;
        result.templateFile = PathBeside(file, node.Attr("template"));
    }
    for (const char* shape : {"ellipse", "point"}) {
        if (node.Child(shape) != nullptr) {
            result.shape = QString::fromLatin1(shape);
        }
    }
    for (const char* shape : {"polygon", "polyline"}) {
        if (const XmlNode* points = node.Child(shape)) {
            result.shape = QString::fromLatin1(shape);
            for (const QString& pair : points->Attr("points").split(' ', Qt::SkipEmptyParts)) {
                result.points.emplace_back(MapReal(file, "point x", pair.section(',', 0, 0)), MapReal(file, "point y", pair.section(',', 1, 1)));
            }
        }
    }
    if (const XmlNode* words = node.Child("text")) {
        result.text = MapText(file, [&](const char* name) { return words->Attr(QString::fromLatin1(name)); }, words->Text());
    }
    result.properties = properties(node);
    return result;
}

namespace {

std::vector<TiledLayer> layers(const QString& file, const XmlNode& parent, bool infinite, int depth) {
    if (depth > 64) {
        InvalidMapFile(file, QStringLiteral("groups nested more than 64 deep"));
    }
    std::vector<TiledLayer> list;
    for (const XmlNode& node : parent.children) {
        if (node.kind != XmlNode::Kind::Element) {
            continue;
        }
        if (node.name == "layer") {
            list.push_back(tileLayer(file, node, infinite));
            continue;
        }
        TiledLayer layer;
        if (node.name == "objectgroup") {
            layer.kind = LayerKind::Objects;
            layer.topDown = node.Attr("draworder", "topdown") != "index";
            layer.colour = MapColour(file, "color", node.Attr("color"));
            forChildren(node, "object", [&](const XmlNode& o) { layer.objects.push_back(ReadTmxObject(file, o)); });
        } else if (node.name == "imagelayer") {
            layer.kind = LayerKind::Image;
            layer.image = image(file, node.Child("image"));
            layer.repeatX = node.Attr("repeatx") == "1";
            layer.repeatY = node.Attr("repeaty") == "1";
        } else if (node.name == "group") {
            layer.kind = LayerKind::Group;
            layer.layers = layers(file, node, infinite, depth + 1);
        } else {
            continue;
        }
        commonLayer(file, node, layer);
        if (layer.kind == LayerKind::Image && (node.Has("x") || node.Has("y")) && !node.Has("offsetx")) {
            // Maps before 1.0 placed image layers by x and y.
            layer.offset = QPointF(MapReal(file, "x", node.Attr("x")), MapReal(file, "y", node.Attr("y")));
        }
        list.push_back(std::move(layer));
    }
    return list;
}
}  // namespace

TiledTileset ReadTsxTileset(const QString& file, const XmlNode& element) {
    if (element.name != "tileset") {
        InvalidMapFile(file, QStringLiteral("no tileset"));
    }
    TiledTileset tileset;
    tileset.name = element.Attr("name");
    tileset.className = element.Attr("class");
    tileset.tile = QSize(MapNumber(file, "tilewidth", element.Attr("tilewidth"), 1, Limits::PictureSide),
                         MapNumber(file, "tileheight", element.Attr("tileheight"), 1, Limits::PictureSide));
    tileset.margin = MapNumber(file, "margin", element.Attr("margin"), 0, Limits::PictureSide);
    tileset.spacing = MapNumber(file, "spacing", element.Attr("spacing"), 0, Limits::PictureSide);
    tileset.columns = MapNumber(file, "columns", element.Attr("columns"), 0, Limits::PictureSide);
    tileset.tileCount = MapNumber(file, "tilecount", element.Attr("tilecount"), 0, static_cast<int>(Limits::TilesetTiles));
    tileset.objectAlignment = element.Attr("objectalignment", "unspecified");
    RenderSizeAndFill(file, element.Attr("tilerendersize"), element.Attr("fillmode"), tileset);
    tileset.properties = properties(element);
    tileset.image = image(file, element.Child("image"));
    if (const XmlNode* offset = element.Child("tileoffset")) {
        tileset.tileOffset = QPoint(MapNumber(file, "tileoffset x", offset->Attr("x"), -Limits::PictureSide, Limits::PictureSide),
                                    MapNumber(file, "tileoffset y", offset->Attr("y"), -Limits::PictureSide, Limits::PictureSide));
    }
    if (const XmlNode* t = element.Child("transformations")) {
        tileset.flipHorizontally = t->Attr("hflip") == "1";
        tileset.flipVertically = t->Attr("vflip") == "1";
        tileset.rotate = t->Attr("rotate") == "1";
        tileset.preferUntransformed = t->Attr("preferuntransformed") == "1";
    }
    forChildren(element, "tile", [&](const XmlNode& node) { AddTile(file, tileset, tile(file, node)); });
    if (const XmlNode* sets = element.Child("wangsets")) {
        forChildren(*sets, "wangset", [&](const XmlNode& set) {
            TiledWangSet wang{set.Attr("name"), {}};
            forChildren(set, "wangtile", [&](const XmlNode& w) {
                wang.tileIds.push_back(MapNumber(file, "wangtile tileid", w.Attr("tileid"), 0, Limits::TileId));
            });
            tileset.wangSets.push_back(std::move(wang));
        });
    }
    FinishTileset(file, tileset);
    return tileset;
}

TiledMap ReadTmxMap(const QString& file, const XmlNode& root, bool tilesets) {
    if (root.name != "map") {
        InvalidMapFile(file, QStringLiteral("no map: the document is a <%1>").arg(root.name));
    }
    TiledMap map;
    map.file = file;
    map.orientation = root.Attr("orientation", "orthogonal");
    map.renderOrder = root.Attr("renderorder", "right-down");
    map.className = root.Attr("class");
    map.staggerAxis = root.Attr("staggeraxis", "y");
    map.staggerIndex = root.Attr("staggerindex", "odd");
    map.hexSideLength = MapNumber(file, "hexsidelength", root.Attr("hexsidelength", "0"), 0, Limits::PictureSide);
    map.skewX = MapNumber(file, "skewx", root.Attr("skewx", "0"), -Limits::PictureSide, Limits::PictureSide);
    map.skewY = MapNumber(file, "skewy", root.Attr("skewy", "0"), -Limits::PictureSide, Limits::PictureSide);
    map.size = QSize(MapNumber(file, "width", root.Attr("width"), 0, Limits::PictureSide), MapNumber(file, "height", root.Attr("height"), 0, Limits::PictureSide));
    map.tile = QSize(MapNumber(file, "tilewidth", root.Attr("tilewidth"), 1, Limits::PictureSide),
                     MapNumber(file, "tileheight", root.Attr("tileheight"), 1, Limits::PictureSide));
    map.infinite = root.Attr("infinite") == "1";
    map.background = MapColour(file, "backgroundcolor", root.Attr("backgroundcolor"));
    map.properties = properties(root);
    forChildren(root, "tileset", [&](const XmlNode& node) {
        TilesetRef ref;
        ref.firstGid = static_cast<std::uint32_t>(MapNumber(file, "firstgid", node.Attr("firstgid"), 1, static_cast<int>(GidFlag::Tile)));
        ref.tileset = std::make_shared<TiledTileset>(node.Has("source") ? LoadTilesetOf(file, node.Attr("source"), tilesets)
                                                                        : ReadTsxTileset(file, node));
        map.tilesets.push_back(std::move(ref));
    });
    map.layers = layers(file, root, map.infinite, 0);
    CheckMapGids(map);
    ResolveTemplates(map, tilesets);
    return map;
}
