#include "tiled/tiledfiles.h"

#include "runtime/runtimeerror.h"
#include "runtime/wholefile.h"
#include "tiled/tiledvalues.h"
#include "tiled/tmjformat.h"
#include "tiled/tmxformat.h"
#include "tiled/worldfile.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

QString NotAFile(const QString& path) {
    const QFileInfo info(path);
    if (info.isFile()) {
        return QString();
    }
    if (!info.exists()) {
        return QStringLiteral("is missing");
    }
    return info.isDir() ? QStringLiteral("is a folder, not a file") : QStringLiteral("is a device, a FIFO or a socket, not a file");
}

namespace {
// By content, since engines and tutorials name Tiled's JSON maps .json as often as .tmj.
bool isJson(const QByteArray& bytes) {
    for (const char c : bytes) {
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
            return c == '{';
        }
    }
    return false;
}

void checkGid(const TiledMap& map, std::uint32_t gid, const QString& where) {
    const std::uint32_t tile = GidTile(gid);
    if (tile == 0) {
        return;
    }
    const TilesetRef* ref = map.TilesetOf(gid);
    if (ref != nullptr && !ref->tileset->loaded) {
        return;
    }
    const int id = ref == nullptr ? -1 : static_cast<int>(tile - ref->firstGid);
    if (ref == nullptr || id >= ref->tileset->IdLimit() ||
        (ref->tileset->IsCollection() && ref->tileset->tiles.count(id) == 0)) {
        InvalidMapFile(map.file, QStringLiteral("%1 places gid %2, which no tileset of the map holds").arg(where).arg(tile));
    }
}
}  // namespace

bool IsWorldName(const QString& path) {
    return QFileInfo(path).suffix().compare(QLatin1String("world"), Qt::CaseInsensitive) == 0;
}

bool IsTiledMapName(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == "tmx" || suffix == "tmj" || suffix == "json";
}

TiledMap LoadMap(const QString& path, bool tilesets) {
    const QString file = QFileInfo(path).absoluteFilePath();
    if (const QString problem = NotAFile(file); !problem.isEmpty() && QFileInfo::exists(file)) {
        InvalidMapFile(file, QStringLiteral("the map %1").arg(problem));
    }
    // A world named as one of its own maps, or of another world's.
    if (IsWorldName(file)) {
        InvalidMapFile(file, QStringLiteral("a world, not a map: a world lists maps, not worlds"));
    }
    const QByteArray bytes = ReadWholeFile(file);
    return isJson(bytes) ? ReadTmjMap(file, ParseJsonObject(file, bytes), tilesets)
                          : ReadTmxMap(file, ParseXml(file, bytes), tilesets);
}

TiledTileset LoadTilesetOf(const QString& map, const QString& reference, bool load) {
    const QString path = PathBeside(map, reference);
    if (!load) {
        TiledTileset unread;
        unread.file = path;
        unread.loaded = false;
        return unread;
    }
    if (const QString problem = NotAFile(path); !problem.isEmpty()) {
        InvalidMapFile(map, QStringLiteral("its tileset %1 %2").arg(path, problem));
    }
    return LoadTileset(path);
}

TiledTileset LoadTileset(const QString& path) {
    const QString file = QFileInfo(path).absoluteFilePath();
    // A missing one is 53, as every missing input.
    if (const QString problem = NotAFile(file); !problem.isEmpty() && QFileInfo::exists(file)) {
        InvalidMapFile(file, QStringLiteral("the tileset %1").arg(problem));
    }
    const QByteArray bytes = ReadWholeFile(file);
    TiledTileset tileset = isJson(bytes) ? ReadTsjTileset(file, ParseJsonObject(file, bytes)) : ReadTsxTileset(file, ParseXml(file, bytes));
    tileset.file = file;
    return tileset;
}

void CheckMapGids(TiledMap& map) {
    std::stable_sort(map.tilesets.begin(), map.tilesets.end(),
                     [](const TilesetRef& a, const TilesetRef& b) { return a.firstGid < b.firstGid; });
    // The gids of each sheet's tiles, found without a look at its tiles: most cells are those.
    struct Sheet {
        std::uint32_t first = 0;
        std::uint32_t end = 0;  // 0 for a collection or a tileset not loaded, which need a look
    };
    std::vector<Sheet> sheets;
    for (const TilesetRef& ref : map.tilesets) {
        const bool plain = ref.tileset->loaded && !ref.tileset->IsCollection();
        sheets.push_back({ref.firstGid, plain ? ref.firstGid + static_cast<std::uint32_t>(ref.tileset->IdLimit()) : 0});
    }
    ForEachLayer(map.layers, [&](const TiledLayer& layer) {
        const QString where = QStringLiteral("layer \"%1\"").arg(layer.name);
        ForEachPlacedGid(layer, [&](std::uint32_t gid) {
            const std::uint32_t tile = GidTile(gid);
            // The tileset of a gid is the last that starts at or before it.
            auto sheet = sheets.rbegin();
            while (sheet != sheets.rend() && sheet->first > tile) {
                ++sheet;
            }
            if (tile == 0 || sheet == sheets.rend() || tile >= sheet->end) {
                checkGid(map, gid, where);
            }
        });
    });
}
