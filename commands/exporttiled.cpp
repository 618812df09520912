#include "commands/export.h"

#include "export/tmxwriter.h"
#include "ldtk/levelmap.h"
#include "runtime/outputfiles.h"
#include "runtime/paths.h"
#include "runtime/stagingfolder.h"
#include "runtime/wholefile.h"
#include "tiled/tiledvalues.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <map>

namespace {
struct OutFile {
    QString name;
    QByteArray bytes;
};

// The files of the export by name, each name once whatever its case; a picture read from the
// project goes in under its own name, once however many tilesets or levels use it.
class Files {
public:
    explicit Files(const QString& project) : project_(project) {}

    void Add(const QString& name, QByteArray bytes) {
        if (!taken_.emplace(name.toLower(), files_.size()).second) {
            throw Refused(QStringLiteral("two files of the export would both have this name; rename a level or tileset"), name);
        }
        files_.push_back({name, std::move(bytes)});
    }

    QString Picture(const QString& path) {
        const auto known = pictures_.find(path);
        if (known != pictures_.end()) {
            return known->second;
        }
        const QString name = QFileInfo(path).fileName();
        Add(name, ReadWholeFile(path));
        inputs_ += path;
        pictures_[path] = name;
        return name;
    }

    const std::vector<OutFile>& All() const { return files_; }
    const QStringList& Inputs() const { return inputs_; }
    bool Has(const QString& name) const { return taken_.count(name.toLower()) != 0; }

private:
    QString project_;
    std::vector<OutFile> files_;
    std::map<QString, std::size_t> taken_;
    std::map<QString, QString> pictures_;
    QStringList inputs_;
};
}  // namespace

void ExportProjectToTiled(const ExportRequest& request, ExportResult& result) {
    result.engine = QStringLiteral("Tiled");
    if (request.out.isEmpty()) {
        throw Refused(QStringLiteral("export needs --out DIR"));
    }
    if (request.maps.size() != 1 || !IsLdtkName(request.maps.front())) {
        throw Refused(QStringLiteral("export --to tiled writes the levels of one LDtk project (.ldtk)"));
    }
    if (request.extrude != 0 || !request.name.isEmpty()) {
        throw Refused(QStringLiteral("export --to tiled keeps the project's sheets and names: it takes no --extrude or --name"));
    }
    const QString named = request.maps.front();
    if (!QFileInfo(named).isFile()) {
        throw Refused(NoSource, named);
    }
    const LdtkProject project = LoadLdtkProject(named);
    const QString folder = AsFolder(request.out);
    Files files(project.file);
    QStringList inputs{project.file};
    std::map<QString, QString> tilesets;  // picture (or an embedded one's tileset) -> its .tsx
    std::int64_t maps = 0, layers = 0, objects = 0, tiles = 0;
    LevelTilesets made;
    for (const LdtkWorld& world : project.worlds) {
        QJsonArray placed;
        for (const LdtkLevel& level : world.levels) {
            const TiledMap map = LevelMap(project, level, &made);
            if (level.file != project.file) {
                inputs += level.file;
            }
            std::vector<QString> tsx, images;
            for (const TilesetRef& ref : map.tilesets) {
                const TiledTileset& t = *ref.tileset;
                // An Aseprite sheet comes embedded, decoded: it is written as TILESET.png.
                const QString key = t.image.source.isEmpty() ? QStringLiteral("\n") + t.name : t.image.source;
                auto known = tilesets.find(key);
                if (known == tilesets.end()) {
                    QString picture = t.name + QStringLiteral(".png");
                    if (t.image.source.isEmpty()) {
                        files.Add(picture, t.image.data);
                    } else {
                        picture = files.Picture(t.image.source);
                    }
                    const QString name = t.name + QStringLiteral(".tsx");
                    files.Add(name, TsxTileset(t, picture, TiledImageSize(t.image)));
                    known = tilesets.emplace(key, name).first;
                }
                tsx.push_back(known->second);
            }
            for (const TiledLayer& layer : map.layers) {
                if (layer.kind == LayerKind::Image) {
                    if (!layer.image.source.isEmpty()) {
                        images.push_back(files.Picture(layer.image.source));
                    } else {
                        images.push_back(level.identifier + QStringLiteral("-background.png"));
                        files.Add(images.back(), layer.image.data);
                    }
                }
                layers += layer.kind == LayerKind::Tiles ? 1 : 0;
                objects += static_cast<std::int64_t>(layer.objects.size());
                for (const TiledChunk& chunk : layer.chunks) {
                    tiles += std::count_if(chunk.gids.begin(), chunk.gids.end(), [](std::uint32_t gid) { return gid != 0; });
                }
            }
            const QString name = level.identifier + QStringLiteral(".tmx");
            files.Add(name, TmxMap(map, tsx, images));
            ++maps;
            placed.append(QJsonObject{{"fileName", name}, {"x", level.world.x()}, {"y", level.world.y()},
                                      {"width", level.size.width()}, {"height", level.size.height()}});
        }
        files.Add(world.identifier + QStringLiteral(".world"),
                  QJsonDocument(QJsonObject{{"maps", placed}, {"onlyShowAdjacentMaps", false}, {"type", "world"}}).toJson());
    }
    inputs += files.Inputs();
    for (const QString& input : inputs) {
        if (OutputFiles::Holds(folder, input)) {
            throw Refused(QStringLiteral("--out %1 holds %2, which is read; give a folder of its own").arg(request.out, input));
        }
    }
    StagingFolder staging(request.out);
    for (const OutFile& file : files.All()) {
        staging.Write(ToFsPath(file.name).string(), file.bytes.constData(), static_cast<std::size_t>(file.bytes.size()));
    }
    staging.Commit([](const QString&) {});
    for (const OutFile& file : files.All()) {
        result.written += folder + file.name;
    }
    result.read += inputs;
    result.Count(QStringLiteral("maps"), maps);
    result.Count(QStringLiteral("layers"), layers);
    result.Count(QStringLiteral("objects"), objects);
    result.Count(QStringLiteral("tiles"), tiles);
    result.Count(QStringLiteral("sheets"), static_cast<std::int64_t>(tilesets.size()));
    result.Count(QStringLiteral("tilesetsWithoutPicture"), TilesetsWithoutPicture(project).size());
}
