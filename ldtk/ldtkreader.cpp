#include "ldtk/ldtkproject.h"

#include "ldtk/ldtkvalues.h"
#include "runtime/limits.h"
#include "runtime/wholefile.h"
#include "tiled/tiledvalues.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include <functional>

namespace {
// Past these a project is no level set anyone draws by hand, and only exhausts memory: the
// levels and tilesets of a project, the bytes of the level files it names (a file may be
// named by every level), and world positions.
constexpr int MaxLevels = 1 << 16;
constexpr int MaxTilesets = 1 << 16;
constexpr qint64 MaxLevelBytes = qint64{1} << 30;
constexpr int WorldSide = 1 << 24;

std::vector<LdtkField> fields(const QJsonArray& list) {
    std::vector<LdtkField> result;
    for (const QJsonValue& item : list) {
        const QJsonObject o = item.toObject();
        result.push_back({o.value("__identifier").toString(), o.value("__type").toString(), o.value("__value")});
    }
    return result;
}

std::optional<LdtkTileRect> tileRect(const LdtkValues& v, const QJsonValue& value) {
    if (!value.isObject()) {
        return std::nullopt;
    }
    const QJsonObject o = value.toObject();
    LdtkTileRect tile;
    tile.tilesetUid = v.Whole(o.value("tilesetUid"), "an entity's tileset", 0, 1 << 30);
    // 1.0 wrote the rectangle as "srcRect": [x, y, w, h].
    const QJsonArray src = o.value("srcRect").toArray();
    auto part = [&](const char* key, int index) {
        const QJsonValue item = src.isEmpty() ? o.value(QLatin1String(key)) : src.at(index);
        return v.Whole(item, "an entity's tile", 0, Limits::PictureSide);
    };
    tile.rect = QRect(part("x", 0), part("y", 1), part("w", 2), part("h", 3));
    return tile;
}

LdtkEntity entity(const LdtkValues& v, const QJsonObject& o) {
    LdtkEntity e;
    e.identifier = o.value("__identifier").toString();
    e.iid = o.value("iid").toString();
    e.px = v.Pair(o.value("px"), "an entity's px", Limits::PictureSide);
    const QJsonArray pivot = o.value("__pivot").toArray();
    e.pivot = QPointF(v.Real(pivot.at(0), "an entity's pivot", 0.0, 1.0, 0.0), v.Real(pivot.at(1), "an entity's pivot", 0.0, 1.0, 0.0));
    e.size = QSize(v.Whole(o.value("width"), "an entity's width", 0, Limits::PictureSide, 0),
                   v.Whole(o.value("height"), "an entity's height", 0, Limits::PictureSide, 0));
    for (const QJsonValue& tag : o.value("__tags").toArray()) {
        e.tags += tag.toString();
    }
    e.tile = tileRect(v, o.value("__tile"));
    e.fields = fields(v.Array(o, "fieldInstances"));
    return e;
}

void tiles(const LdtkValues& v, const QJsonArray& list, std::vector<LdtkTile>& into) {
    into.reserve(into.size() + static_cast<std::size_t>(list.size()));
    for (const QJsonValue& item : list) {
        const QJsonObject o = item.toObject();
        LdtkTile tile;
        tile.px = v.Pair(o.value("px"), "a tile's px", Limits::PictureSide);
        tile.src = v.Pair(o.value("src"), "a tile's src", Limits::PictureSide);
        tile.flips = v.Whole(o.value("f"), "a tile's flips f", 0, 3, 0);
        tile.alpha = v.Real(o.value("a"), "a tile's alpha a", 0.0, 1.0, 1.0);
        into.push_back(tile);
    }
}

LdtkLayerType layerType(const LdtkValues& v, const QString& type) {
    static const std::pair<const char*, LdtkLayerType> types[] = {
        {"IntGrid", LdtkLayerType::IntGrid}, {"Entities", LdtkLayerType::Entities}, {"Tiles", LdtkLayerType::Tiles}, {"AutoLayer", LdtkLayerType::AutoLayer}};
    for (const auto& [name, kind] : types) {
        if (type == QLatin1String(name)) {
            return kind;
        }
    }
    v.Fail(QStringLiteral("layer type \"%1\" is none of IntGrid, Entities, Tiles, AutoLayer").arg(type.left(20)));
}

struct LayerDefinition {
    int tileset = -1;
    std::vector<LdtkIntGridValue> values;
};

LdtkLayer layer(LdtkValues v, const QJsonObject& o, const std::function<const LayerDefinition*(int)>& definition) {
    LdtkLayer layer;
    layer.identifier = o.value("__identifier").toString();
    v.where += QStringLiteral(" layer \"%1\"").arg(layer.identifier);
    layer.type = layerType(v, o.value("__type").toString());
    layer.grid = v.Whole(o.value("__gridSize"), "__gridSize", 1, Limits::TileSide);
    layer.cells = QSize(v.Whole(o.value("__cWid"), "__cWid", 0, Limits::PictureSide), v.Whole(o.value("__cHei"), "__cHei", 0, Limits::PictureSide));
    const std::size_t cells = LayerCells(v.file, layer.identifier, layer.cells.width(), layer.cells.height());
    layer.opacity = v.Real(o.value("__opacity"), "__opacity", 0.0, 1.0, 1.0);
    layer.visible = o.value("visible").toBool(true);
    layer.offset = QPoint(v.Whole(o.value("__pxTotalOffsetX"), "__pxTotalOffsetX", -Limits::PictureSide, Limits::PictureSide, 0),
                          v.Whole(o.value("__pxTotalOffsetY"), "__pxTotalOffsetY", -Limits::PictureSide, Limits::PictureSide, 0));
    const int own = v.Whole(o.value("__tilesetDefUid"), "__tilesetDefUid", 0, 1 << 30, -1);
    layer.tilesetUid = v.Whole(o.value("overrideTilesetUid"), "overrideTilesetUid", 0, 1 << 30, own);
    const LayerDefinition* defined = definition(v.Whole(o.value("layerDefUid"), "layerDefUid", 0, 1 << 30, -1));
    if (layer.tilesetUid < 0 && defined != nullptr) {
        layer.tilesetUid = defined->tileset;
    }
    tiles(v, v.Array(o, "gridTiles"), layer.tiles);
    tiles(v, v.Array(o, "autoLayerTiles"), layer.tiles);
    if (layer.type == LdtkLayerType::IntGrid) {
        layer.values = defined == nullptr ? std::vector<LdtkIntGridValue>() : defined->values;
        layer.intGrid.assign(cells, 0);
        const QJsonArray csv = v.Array(o, "intGridCsv");
        if (!csv.isEmpty() && static_cast<std::size_t>(csv.size()) != cells) {
            v.Fail(QStringLiteral("intGridCsv holds %1 values, not %2").arg(csv.size()).arg(cells));
        }
        for (qsizetype k = 0; k < csv.size(); ++k) {
            layer.intGrid[static_cast<std::size_t>(k)] = v.Whole(csv[k], "an IntGrid value", 0, 1 << 30);
        }
        // Before 1.0: only the cells that hold a value, by their index.
        for (const QJsonValue& item : v.Array(o, "intGrid")) {
            const int at = v.Whole(item.toObject().value("coordId"), "an IntGrid coordId", 0, static_cast<int>(cells) - 1);
            layer.intGrid[static_cast<std::size_t>(at)] = v.Whole(item.toObject().value("v"), "an IntGrid value", 0, 1 << 30);
        }
    }
    for (const QJsonValue& item : v.Array(o, "entityInstances")) {
        layer.entities.push_back(entity(v, item.toObject()));
    }
    return layer;
}

std::optional<LdtkBackground> background(const LdtkValues& v, const QJsonObject& o) {
    const QString relative = o.value("bgRelPath").toString();
    if (relative.isEmpty()) {
        return std::nullopt;
    }
    LdtkBackground picture;
    picture.picture = PathBeside(v.file, relative);
    const QJsonObject pos = o.value("__bgPos").toObject();
    const double side = Limits::PictureSide;
    const QJsonArray topLeft = pos.value("topLeftPx").toArray(), scale = pos.value("scale").toArray(), crop = pos.value("cropRect").toArray();
    picture.topLeft = QPointF(v.Real(topLeft.at(0), "__bgPos", -side, side, 0), v.Real(topLeft.at(1), "__bgPos", -side, side, 0));
    picture.scale = QPointF(v.Real(scale.at(0), "__bgPos scale", 1e-4, 1e4, 1), v.Real(scale.at(1), "__bgPos scale", 1e-4, 1e4, 1));
    picture.crop = QRectF(v.Real(crop.at(0), "__bgPos crop", 0, side, 0), v.Real(crop.at(1), "__bgPos crop", 0, side, 0),
                          v.Real(crop.at(2), "__bgPos crop", 0, side, 0), v.Real(crop.at(3), "__bgPos crop", 0, side, 0));
    return picture;
}

struct ProjectReader {
    QString file;
    QJsonObject root;
    std::map<int, LayerDefinition> layerDefinitions;  // by uid
    qint64 levelBytes = 0;

    LdtkLevel Level(const QJsonObject& entry) {
        LdtkValues v{file, QString()};
        LdtkLevel level;
        level.identifier = entry.value("identifier").toString();
        level.iid = entry.value("iid").toString();
        v.where = QStringLiteral("level \"%1\"").arg(level.identifier);
        QJsonObject o = entry;
        level.file = file;
        const QString external = entry.value("externalRelPath").toString();
        if (!external.isEmpty() && !entry.value("layerInstances").isArray()) {
            level.file = PathBeside(file, external);
            if (!QFileInfo(level.file).isFile()) {
                v.Fail(QStringLiteral("its level file %1 is missing").arg(level.file));
            }
            const QByteArray bytes = ReadWholeFile(level.file);
            levelBytes += bytes.size();
            if (levelBytes > MaxLevelBytes) {
                v.Fail(QStringLiteral("its level files pass %1 bytes together").arg(MaxLevelBytes));
            }
            o = ParseLdtkJson(level.file, bytes);
            v.file = level.file;
        }
        level.size = QSize(v.Whole(o.value("pxWid"), "pxWid", 1, Limits::PictureSide), v.Whole(o.value("pxHei"), "pxHei", 1, Limits::PictureSide));
        level.world = QPoint(v.Whole(entry.value("worldX"), "worldX", -WorldSide, WorldSide, 0),
                             v.Whole(entry.value("worldY"), "worldY", -WorldSide, WorldSide, 0));
        level.depth = v.Whole(entry.value("worldDepth"), "worldDepth", -WorldSide, WorldSide, 0);
        level.background = v.Colour(o.value("__bgColor"), "__bgColor");
        LdtkValues pictures{file, v.where};  // the background's path is relative to the project
        level.picture = background(pictures, o);
        level.fields = fields(v.Array(o, "fieldInstances"));
        const auto defined = [&](int uid) -> const LayerDefinition* {
            const auto found = layerDefinitions.find(uid);
            return found == layerDefinitions.end() ? nullptr : &found->second;
        };
        for (const QJsonValue& item : v.Array(o, "layerInstances")) {
            level.layers.push_back(layer(v, item.toObject(), defined));
        }
        return level;
    }

    LdtkWorld World(const QJsonObject& o, const QString& name) {
        LdtkWorld world;
        world.identifier = o.value("identifier").toString(name);
        world.layout = o.value("worldLayout").toString(QStringLiteral("Free"));
        LdtkValues v{file, QStringLiteral("world \"%1\"").arg(world.identifier)};
        if (world.layout != "Free" && world.layout != "GridVania" && world.layout != "LinearHorizontal" && world.layout != "LinearVertical") {
            v.Fail(QStringLiteral("world layout \"%1\" is none of Free, GridVania, LinearHorizontal, LinearVertical").arg(world.layout.left(20)));
        }
        const QJsonArray levels = v.Array(o, "levels");
        QPoint next(0, 0);
        for (const QJsonValue& item : levels) {
            LdtkLevel level = Level(item.toObject());
            // The linear layouts place levels side by side in file order; their worldX/worldY are -1.
            if (world.layout == "LinearHorizontal") {
                level.world = next;
                next.rx() += level.size.width();
            } else if (world.layout == "LinearVertical") {
                level.world = next;
                next.ry() += level.size.height();
            }
            world.levels.push_back(std::move(level));
        }
        return world;
    }
};

std::vector<LdtkTileset> tilesets(const QString& file, const QJsonArray& list) {
    std::vector<LdtkTileset> result;
    if (list.size() > MaxTilesets) {
        InvalidMapFile(file, QStringLiteral("%1 tilesets, more than %2").arg(list.size()).arg(MaxTilesets));
    }
    for (const QJsonValue& item : list) {
        const QJsonObject o = item.toObject();
        LdtkTileset tileset;
        tileset.identifier = o.value("identifier").toString();
        const LdtkValues v{file, QStringLiteral("tileset \"%1\"").arg(tileset.identifier)};
        tileset.uid = v.Whole(o.value("uid"), "uid", 0, 1 << 30);
        const QString relative = o.value("relPath").toString();
        tileset.picture = relative.isEmpty() ? QString() : PathBeside(file, relative);
        tileset.size = QSize(v.Whole(o.value("pxWid"), "pxWid", 0, Limits::PictureSide, 0), v.Whole(o.value("pxHei"), "pxHei", 0, Limits::PictureSide, 0));
        tileset.grid = v.Whole(o.value("tileGridSize"), "tileGridSize", 1, Limits::TileSide);
        tileset.spacing = v.Whole(o.value("spacing"), "spacing", 0, Limits::TileSide, 0);
        tileset.padding = v.Whole(o.value("padding"), "padding", 0, Limits::TileSide, 0);
        result.push_back(tileset);
    }
    return result;
}

// "1.5.3" and the like: 1.0 is the first version whose files this reads.
void checkVersion(const QString& file, const QString& version) {
    const QStringList parts = version.split('.');
    bool ok = false;
    const int major = parts.value(0).toInt(&ok);
    if (version.isEmpty()) {
        InvalidMapFile(file, QStringLiteral("no LDtk project: it has no jsonVersion"));
    }
    if (!ok || major < 1) {
        InvalidMapFile(file, QStringLiteral("LDtk version \"%1\" is older than 1.0; open and save it in a newer LDtk").arg(version.left(20)));
    }
}
}  // namespace

bool IsLdtkName(const QString& path) {
    return QFileInfo(path).suffix().compare(QLatin1String("ldtk"), Qt::CaseInsensitive) == 0;
}

LdtkProject ReadLdtkProject(const QString& file, const QByteArray& bytes) {
    ProjectReader reader{file, ParseLdtkJson(file, bytes), {}, 0};
    LdtkProject project;
    project.file = file;
    project.version = reader.root.value("jsonVersion").toString();
    checkVersion(file, project.version);
    const QJsonObject defs = reader.root.value("defs").toObject();
    project.tilesets = tilesets(file, defs.value("tilesets").toArray());
    for (const QJsonValue& item : defs.value("layers").toArray()) {
        const QJsonObject o = item.toObject();
        const LdtkValues v{file, QStringLiteral("layer definition \"%1\"").arg(o.value("identifier").toString())};
        // Before 1.0 an auto-layer named its tileset "autoTilesetDefUid".
        const QJsonValue tileset = o.value("tilesetDefUid").isDouble() ? o.value("tilesetDefUid") : o.value("autoTilesetDefUid");
        LayerDefinition& definition = reader.layerDefinitions[v.Whole(o.value("uid"), "uid", 0, 1 << 30)];
        definition.tileset = v.Whole(tileset, "tilesetDefUid", 0, 1 << 30, -1);
        for (const QJsonValue& item : v.Array(o, "intGridValues")) {
            const QJsonObject value = item.toObject();
            definition.values.push_back({v.Whole(value.value("value"), "an IntGrid value", 0, 1 << 30), value.value("identifier").toString(),
                                         v.Colour(value.value("color"), "an IntGrid value's color").value_or(QColor(Qt::black))});
        }
    }
    std::int64_t levels = reader.root.value("levels").toArray().size();
    const QJsonArray worlds = reader.root.value("worlds").toArray();
    for (const QJsonValue& world : worlds) {
        levels += world.toObject().value("levels").toArray().size();
    }
    if (levels > MaxLevels) {
        InvalidMapFile(file, QStringLiteral("%1 levels, more than %2").arg(levels).arg(MaxLevels));
    }
    if (!worlds.isEmpty()) {
        for (const QJsonValue& world : worlds) {
            project.worlds.push_back(reader.World(world.toObject(), QStringLiteral("World")));
        }
    } else {
        project.worlds.push_back(reader.World(reader.root, QStringLiteral("World")));
    }
    if (project.LevelCount() == 0) {
        InvalidMapFile(file, QStringLiteral("the project has no level"));
    }
    return project;
}

LdtkProject LoadLdtkProject(const QString& path) {
    const QString file = QFileInfo(path).absoluteFilePath();
    return ReadLdtkProject(file, ReadWholeFile(file));
}

const LdtkTileset* LdtkProject::Tileset(int uid) const {
    for (const LdtkTileset& tileset : tilesets) {
        if (tileset.uid == uid) {
            return &tileset;
        }
    }
    return nullptr;
}

const LdtkLevel* LdtkProject::Level(const QString& identifier) const {
    for (const LdtkWorld& world : worlds) {
        for (const LdtkLevel& level : world.levels) {
            if (level.identifier == identifier) {
                return &level;
            }
        }
    }
    return nullptr;
}

int LdtkProject::LevelCount() const {
    int count = 0;
    for (const LdtkWorld& world : worlds) {
        count += static_cast<int>(world.levels.size());
    }
    return count;
}
