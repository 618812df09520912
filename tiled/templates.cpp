#include "tiled/templates.h"

#include "runtime/limits.h"
#include "runtime/wholefile.h"
#include "tiled/tiledfiles.h"
#include "tiled/tiledvalues.h"
#include "tiled/tmjformat.h"
#include "tiled/tmxformat.h"
#include "tiled/xmltree.h"

#include <QFileInfo>
#include <QJsonObject>

#include <algorithm>
#include <map>

namespace {
bool isJson(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == "tj" || suffix == "json";
}

std::shared_ptr<TiledTileset> tilesetOf(const QString& file, const QString& source, bool tilesets) {
    if (source.isEmpty()) {
        InvalidMapFile(file, QStringLiteral("its tileset names no file"));
    }
    return std::make_shared<TiledTileset>(LoadTilesetOf(file, source, tilesets));
}

// The instance over its template: what the instance's element gives wins.
TiledObject merged(const TiledObject& instance, const TiledObject& base) {
    TiledObject result = base;
    result.id = instance.id;
    result.position = instance.position;
    result.templateFile = instance.templateFile;
    const unsigned given = instance.given;
    if (given & TiledObject::Name) result.name = instance.name;
    if (given & TiledObject::Type) result.type = instance.type;
    if (given & TiledObject::Size) result.size = instance.size;
    if (given & TiledObject::Rotation) result.rotation = instance.rotation;
    if (given & TiledObject::Visible) result.visible = instance.visible;
    if (given & TiledObject::Opacity) result.opacity = instance.opacity;
    if (given & TiledObject::Gid) result.gid = instance.gid;
    if (given & TiledObject::Shape) {
        result.kind = (given & TiledObject::Text) != 0 ? ObjectKind::Text : ObjectKind::Shape;
        result.shape = instance.shape;
        result.points = instance.points;
        result.text = instance.text;
    }
    // Properties of the instance's own over the template's, name by name.
    for (const TiledProperty& own : instance.properties) {
        auto same = std::find_if(result.properties.begin(), result.properties.end(), [&](const TiledProperty& p) { return p.name == own.name; });
        if (same != result.properties.end()) {
            *same = own;
        } else {
            result.properties.push_back(own);
        }
    }
    result.given = base.given | given;
    return result;
}

// The first gid free past every tileset of the map.
std::uint32_t nextFirstGid(const TiledMap& map) {
    std::uint64_t next = 1;
    for (const TilesetRef& ref : map.tilesets) {
        next = std::max(next, std::uint64_t{ref.firstGid} + static_cast<std::uint64_t>(std::max(1, ref.tileset->IdLimit())));
    }
    if (next > GidFlag::Tile) {
        InvalidMapFile(map.file, QStringLiteral("its templates' tilesets take gids past the largest"));
    }
    return static_cast<std::uint32_t>(next);
}
}  // namespace

TiledTemplate ReadTemplate(const QString& file, const QByteArray& bytes, bool tilesets) {
    TiledTemplate result;
    QString source;
    if (isJson(file)) {
        const QJsonObject root = ParseJsonObject(file, bytes);
        if (root.value("type").toString() != "template" || !root.value("object").isObject()) {
            InvalidMapFile(file, QStringLiteral("no template: no \"object\" in a \"type\": \"template\""));
        }
        result.object = ReadTmjObject(file, root.value("object").toObject());
        if (root.contains("tileset")) {
            const QJsonObject tileset = root.value("tileset").toObject();
            result.firstGid = static_cast<std::uint32_t>(MapNumber(file, "firstgid", tileset.value("firstgid").toVariant().toString(), 1, static_cast<int>(GidFlag::Tile), 1));
            result.tileset = tilesetOf(file, tileset.value("source").toString(), tilesets);
        }
    } else {
        const XmlNode root = ParseXml(file, bytes);
        const XmlNode* object = root.name == "template" ? root.Child("object") : nullptr;
        if (object == nullptr) {
            InvalidMapFile(file, QStringLiteral("no template: no <object> in a <template>"));
        }
        result.object = ReadTmxObject(file, *object);
        if (const XmlNode* tileset = root.Child("tileset")) {
            result.firstGid = static_cast<std::uint32_t>(MapNumber(file, "firstgid", tileset->Attr("firstgid"), 1, static_cast<int>(GidFlag::Tile), 1));
            result.tileset = tileset->Has("source") ? tilesetOf(file, tileset->Attr("source"), tilesets)
                                                    : std::make_shared<TiledTileset>(ReadTsxTileset(file, *tileset));
        }
    }
    if (result.object.kind == ObjectKind::Template) {
        InvalidMapFile(file, QStringLiteral("a template's object is itself an instance of a template"));
    }
    const std::uint32_t tile = GidTile(result.object.gid);
    if (tile != 0 && (result.tileset == nullptr || tile < result.firstGid)) {
        InvalidMapFile(file, QStringLiteral("its object places gid %1, which its tileset does not hold").arg(tile));
    }
    if (tile != 0 && result.tileset->loaded) {
        const int id = static_cast<int>(tile - result.firstGid);
        if (id >= result.tileset->IdLimit() || (result.tileset->IsCollection() && result.tileset->tiles.count(id) == 0)) {
            InvalidMapFile(file, QStringLiteral("its object places gid %1, which its tileset does not hold").arg(tile));
        }
    }
    return result;
}

void ResolveTemplates(TiledMap& map, bool tilesets) {
    std::map<QString, TiledTemplate> read;
    std::map<QString, std::uint32_t> firstGids;  // a template tileset's first gid in the map, by its file
    ForEachLayer(map.layers, [&](TiledLayer& layer) {
        for (TiledObject& object : layer.objects) {
            if (object.templateFile.isEmpty()) {
                continue;
            }
            const QString& file = object.templateFile;
            auto found = read.find(file);
            if (found == read.end()) {
                if (const QString problem = NotAFile(file); !problem.isEmpty()) {
                    InvalidMapFile(map.file, QStringLiteral("its template %1 %2").arg(file, problem));
                }
                map.templates += file;
                std::vector<unsigned char> data;
                ReadWholeFile(file, data);
                const QByteArray bytes(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
                found = read.emplace(file, ReadTemplate(file, bytes, tilesets)).first;
            }
            if (!tilesets) {
                continue;
            }
            const TiledTemplate& base = found->second;
            TiledObject result = merged(object, base.object);
            if ((object.given & TiledObject::Gid) == 0 && base.object.gid != 0) {
                // The template's gid, moved to where its tileset's tiles are in the map.
                const TiledTileset* tileset = base.tileset.get();
                const QString key = tileset->file.isEmpty() ? file : tileset->file;
                auto gids = firstGids.find(key);
                if (gids == firstGids.end()) {
                    std::uint32_t first = 0;
                    for (const TilesetRef& ref : map.tilesets) {
                        if (!ref.tileset->file.isEmpty() && ref.tileset->file == tileset->file) {
                            first = ref.firstGid;
                        }
                    }
                    if (first == 0) {
                        first = nextFirstGid(map);
                        map.tilesets.push_back({first, base.tileset, true});
                    }
                    gids = firstGids.emplace(key, first).first;
                }
                const std::uint32_t id = GidTile(base.object.gid) - base.firstGid;
                result.gid = (gids->second + id) | (base.object.gid & GidFlag::All);
                result.gidFromTemplate = true;
            }
            result.kind = result.gid != 0 ? ObjectKind::Tile : result.kind == ObjectKind::Template ? ObjectKind::Shape : result.kind;
            object = std::move(result);
        }
    });
}
