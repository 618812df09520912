#include "commands/info.h"

#include "commands/tileoptions.h"

#include "records/bmpsize.h"
#include "tiled/tiledfiles.h"
#include "tiled/worldfile.h"
#include "ldtk/levelmap.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

namespace {
QString formatName(std::int32_t type) {
    switch (type) {
    case bmpsize::Gif: return QStringLiteral("GIF");
    case bmpsize::Jpeg: return QStringLiteral("JPEG");
    case bmpsize::Png: return QStringLiteral("PNG");
    case bmpsize::Bmp: return QStringLiteral("BMP");
    default: return QStringLiteral("unknown");
    }
}

QString tilesetsUsed(const TiledMap& map, const TiledLayer& layer) {
    QStringList names;
    ForEachPlacedGid(layer, [&](std::uint32_t gid) {
        if (const TilesetRef* ref = map.TilesetOf(gid)) {
            const QString name = ref->tileset->name.isEmpty() ? QFileInfo(ref->tileset->file).completeBaseName() : ref->tileset->name;
            if (!names.contains(name)) {
                names += name;
            }
        }
    });
    return names.isEmpty() ? QStringLiteral("-") : names.join(',');
}

QString layerSize(const TiledLayer& layer) {
    switch (layer.kind) {
    case LayerKind::Tiles: {
        QRect cells;
        for (const TiledChunk& chunk : layer.chunks) {
            cells |= chunk.area;
        }
        return SizeText(cells.size());
    }
    case LayerKind::Objects: return CountText(static_cast<std::int64_t>(layer.objects.size()), QStringLiteral("object"));
    case LayerKind::Image: return layer.image.Empty() ? QStringLiteral("no image") : SizeText(layer.image.size);
    case LayerKind::Group: return CountText(static_cast<std::int64_t>(layer.layers.size()), QStringLiteral("layer"));
    }
    return QString();
}

void addLayers(const TiledMap& map, const std::vector<TiledLayer>& layers, const QString& parent, std::vector<LayerInfo>& into) {
    static const char* const kinds[] = {"tiles", "objects", "image", "group"};
    for (const TiledLayer& layer : layers) {
        const QString name = parent.isEmpty() ? layer.name : parent + '/' + layer.name;
        into.push_back({QLatin1String(kinds[static_cast<int>(layer.kind)]), name, layerSize(layer), tilesetsUsed(map, layer), layer.visible});
        addLayers(map, layer.layers, name, into);
    }
}

void describeProject(const QString& file, FileInfo& info) {
    static const char* const types[] = {"IntGrid", "Entities", "Tiles", "AutoLayer"};
    const LdtkProject project = LoadLdtkProject(file);
    info.project = true;
    info.version = project.version;
    LevelTilesets made;
    for (const LdtkWorld& world : project.worlds) {
        info.worlds.emplace_back(world.identifier, world.layout);
        for (const LdtkLevel& level : world.levels) {
            // As every command reads it: a tile outside its sheet or a missing picture is refused here too.
            LevelMap(project, level, &made);
            LevelInfo described{world.identifier, level.identifier, level.size, level.world, {}};
            if (level.file != file) {
                info.uses += level.file;
            }
            for (const LdtkLayer& layer : level.layers) {
                const LdtkTileset* tileset = project.Tileset(layer.tilesetUid);
                LayerInfo l{QLatin1String(types[static_cast<int>(layer.type)]), layer.identifier, SizeText(layer.cells),
                            tileset == nullptr ? QStringLiteral("-") : tileset->identifier, layer.visible};
                l.tiles = static_cast<std::int64_t>(layer.tiles.size());
                l.entities = static_cast<std::int64_t>(layer.entities.size());
                l.grid = layer.grid;
                described.layers.push_back(l);
            }
            info.levels.push_back(std::move(described));
        }
    }
    for (const LdtkTileset& tileset : project.tilesets) {
        info.projectTilesets.push_back({tileset.identifier, tileset.grid, tileset.picture});
        if (!tileset.picture.isEmpty() && !info.uses.contains(tileset.picture)) {
            info.uses += tileset.picture;
        }
    }
}

QJsonObject projectJson(const FileInfo& info) {
    QJsonArray worlds, levels, tilesets;
    for (const auto& [name, layout] : info.worlds) {
        worlds.append(QJsonObject{{"identifier", name}, {"layout", layout}});
    }
    for (const LevelInfo& level : info.levels) {
        QJsonArray layers;
        for (const LayerInfo& layer : level.layers) {
            layers.append(QJsonObject{{"type", layer.kind}, {"identifier", layer.name}, {"size", layer.size}, {"grid", static_cast<qint64>(layer.grid)},
                                      {"tileset", layer.tilesets}, {"tiles", static_cast<qint64>(layer.tiles)}, {"entities", static_cast<qint64>(layer.entities)},
                                      {"visible", layer.visible}});
        }
        levels.append(QJsonObject{{"world", level.world}, {"identifier", level.name}, {"width", level.size.width()},
                                  {"height", level.size.height()}, {"worldX", level.position.x()}, {"worldY", level.position.y()},
                                  {"layers", layers}});
    }
    for (const ProjectTilesetInfo& tileset : info.projectTilesets) {
        tilesets.append(QJsonObject{{"identifier", tileset.name}, {"grid", tileset.grid}, {"picture", tileset.picture}});
    }
    return QJsonObject{{"file", info.file}, {"version", info.version}, {"worlds", worlds}, {"levels", levels}, {"tilesets", tilesets}};
}

FileInfo describe(const QString& file, bmpsize& reader) {
    FileInfo info;
    info.file = file;
    if (IsLdtkName(file)) {
        describeProject(file, info);
        return info;
    }
    info.world = IsWorldName(file);
    if (info.world) {
        for (const WorldMap& placed : LoadWorld(file).maps) {
            info.worldMaps.emplace_back(placed.file, placed.position);
        }
        return info;
    }
    info.map = IsTiledMapName(file);
    if (info.map) {
        const TiledMap map = LoadMap(file);
        addLayers(map, map.layers, QString(), info.layers);
        info.orientation = map.orientation;
        if (map.orientation == "staggered" || map.orientation == "hexagonal") {
            info.orientation += QStringLiteral(" staggeraxis=%1 staggerindex=%2").arg(map.staggerAxis, map.staggerIndex);
        }
        if (map.orientation == "hexagonal") {
            info.orientation += QStringLiteral(" hexsidelength=%1").arg(map.hexSideLength);
        }
        if (map.orientation == "oblique") {
            info.orientation += QStringLiteral(" skewx=%1 skewy=%2").arg(map.skewX).arg(map.skewY);
        }
        for (const TilesetRef& ref : map.tilesets) {
            if (!ref.tileset->file.isEmpty() && !info.uses.contains(ref.tileset->file)) {
                info.uses += ref.tileset->file;
            }
        }
        info.uses += map.templates;
        info.cells = map.size;
        info.tile = map.tile;
        return info;
    }
    const QString suffix = QFileInfo(file).suffix().toLower();
    if (suffix == "tsx" || suffix == "tsj") {
        const TiledTileset tileset = LoadTileset(file);
        info.tileset = true;
        info.name = tileset.name;
        info.tile = tileset.tile;
        info.tileCount = tileset.tileCount;
        info.columns = tileset.columns;
        info.image = tileset.image.source;
        return info;
    }
    reader.ReadImageInfo(file);
    if (reader.ImageType() == bmpsize::Unknown) {
        RaiseError(Err::InvalidPicture);
    }
    info.format = formatName(reader.ImageType());
    info.width = reader.FullWidth();
    info.height = reader.FullHeight();
    info.depth = reader.Depth();
    return info;
}
}  // namespace

InfoResult RunInfo(const InfoRequest& request) {
    InfoResult result;
    result.procedure = QStringLiteral("info");
    bmpsize reader;
    for (const QString& file : request.files) {
        try {
            FileInfo info = describe(file, reader);
            result.read += file;
            if (info.tileset) {
                result.lists[QStringLiteral("tilesets")].append(QJsonObject{
                    {"file", file}, {"name", info.name}, {"tilewidth", info.tile.width()}, {"tileheight", info.tile.height()},
                    {"tilecount", info.tileCount}, {"columns", info.columns}, {"image", info.image}});
            } else if (info.project) {
                result.read += info.uses;
                result.lists[QStringLiteral("projects")].append(projectJson(info));
            } else if (info.world) {
                QJsonArray maps;
                for (const auto& [map, position] : info.worldMaps) {
                    maps.append(QJsonObject{{"file", map}, {"x", position.x()}, {"y", position.y()}});
                }
                result.lists[QStringLiteral("worlds")].append(QJsonObject{{"file", file}, {"maps", maps}});
            } else if (info.map) {
                result.read += info.uses;
                QJsonArray layers;
                for (const LayerInfo& layer : info.layers) {
                    layers.append(QJsonObject{{"kind", layer.kind}, {"name", layer.name}, {"size", layer.size},
                                              {"tilesets", layer.tilesets}, {"visible", layer.visible}});
                }
                result.lists[QStringLiteral("maps")].append(QJsonObject{
                    {"file", file}, {"orientation", info.orientation}, {"width", info.cells.width()},
                    {"height", info.cells.height()}, {"tileWidth", info.tile.width()}, {"tileHeight", info.tile.height()},
                    {"layers", layers}});
            } else {
                result.lists[QStringLiteral("images")].append(QJsonObject{
                    {"file", file}, {"format", info.format}, {"width", static_cast<qint64>(info.width)},
                    {"height", static_cast<qint64>(info.height)}, {"depth", static_cast<qint64>(info.depth)}});
            }
            result.files.push_back(std::move(info));
        } catch (const RuntimeError& failure) {
            FileInfo info;
            info.file = file;
            info.failure = failure;
            result.files.push_back(std::move(info));
        }
    }
    return result;
}
