#include "commands/export.h"

#include "commands/godotroot.h"
#include "export/exportsheets.h"
#include "export/godotexport.h"
#include "export/godotwriter.h"
#include "export/ldtkwriter.h"
#include "export/phaserwriter.h"
#include "imaging/asepritefile.h"
#include "ldtk/levelmap.h"
#include "runtime/filelock.h"
#include "runtime/outputfiles.h"
#include "runtime/paths.h"
#include "runtime/stagingfolder.h"
#include "runtime/wholefile.h"
#include "tiled/tiledfiles.h"

#include <QDir>
#include <QFileInfo>

#include <set>

namespace {
// A file of the export, its name in the folder and its bytes.
struct OutFile {
    QString name;
    QByteArray bytes;
};

QString engineName(Engine engine) {
    return engine == Engine::Phaser ? QStringLiteral("Phaser") : engine == Engine::Godot ? QStringLiteral("Godot") : QStringLiteral("LDtk");
}

// Refuses, before anything is written, what the engine cannot place.
void refuseMap(const TiledMap& map, const QString& named, Engine engine) {
    if (map.infinite) {
        throw Refused(QStringLiteral("an infinite map; give it a fixed size in Tiled (Map > Map Properties) first"), named);
    }
    if (engine == Engine::Godot) {
        if (const QString refusal = GodotRefusal(map); !refusal.isEmpty()) {
            throw Refused(refusal, named);
        }
        return;
    }
    if (engine == Engine::Phaser) {
        if (const QString refusal = PhaserRefusal(map); !refusal.isEmpty()) {
            throw Refused(refusal, named);
        }
    } else if (map.orientation != "orthogonal") {
        const QString article = !map.orientation.isEmpty() && QStringLiteral("aeiou").contains(map.orientation.front()) ? QStringLiteral("an") : QStringLiteral("a");
        throw Refused(QStringLiteral("%1 %2 map, which export to %3 does not write").arg(article, map.orientation, engineName(engine)), named);
    }
}

void exportMaps(const ExportRequest& request, ExportResult& result) {
    result.engine = engineName(request.engine);
    if (request.out.isEmpty()) {
        throw Refused(QStringLiteral("export needs --out DIR"));
    }
    if (request.name.contains('/') || request.name.contains(QDir::separator())) {
        throw Refused(QStringLiteral("--name %1: a file name without folders, written into --out").arg(request.name));
    }
    const QString folder = AsFolder(request.out);
    std::vector<TiledMap> maps;
    QStringList sources, bases, places;  // each map's file, named by a refusal, its name and its level
    std::set<QString> names;
    QStringList inputs;
    const auto add = [&](TiledMap map, const QString& file, const QString& base, const QString& place) {
        if (request.engine == Engine::Phaser && !request.name.isEmpty() && !maps.empty()) {
            throw Refused(QStringLiteral("--name names the one map's file; each of several maps keeps its own name"));
        }
        refuseMap(map, file, request.engine);
        // Only Phaser names a map's file by --name; the others name their one shared file by it.
        const QString named = request.name.isEmpty() || request.engine != Engine::Phaser ? base : request.name;
        if (!names.insert(named.toLower()).second) {
            throw Refused(QStringLiteral("another map has the same name %1; export them apart").arg(named), file);
        }
        maps.push_back(std::move(map));
        sources += file;
        bases += base;
        places += place;
    };
    for (const QString& named : request.maps) {
        const bool ldtk = IsLdtkName(named);
        // A .json is read as Tiled's JSON map; one that holds no map is refused by the reader.
        if (!ldtk && !IsTiledMapName(named) && QFileInfo(named).suffix().compare("json", Qt::CaseInsensitive) != 0) {
            throw Refused(QStringLiteral("not a map file (.tmx, .tmj, .json or .ldtk)"), named);
        }
        if (!QFileInfo(named).isFile()) {
            throw Refused(NoSource, named);
        }
        if (ldtk) {
            // Each level a map named after it, as export --to tiled names them.
            const LdtkProject project = LoadLdtkProject(named);
            inputs += project.file;
            // Aseprite sheets come decoded in the model, so they are not among the sheets' inputs.
            for (const LdtkTileset& tileset : project.tilesets) {
                inputs += IsAsepriteName(tileset.picture) ? QStringList{tileset.picture} : QStringList{};
            }
            LevelTilesets made;
            for (const LdtkWorld& world : project.worlds) {
                for (const LdtkLevel& level : world.levels) {
                    add(LevelMap(project, level, &made), level.file, level.identifier, QStringLiteral("level \"%1\": ").arg(level.identifier));
                    inputs += level.file == project.file ? QStringList{} : QStringList{level.file};
                }
            }
            continue;
        }
        add(LoadMap(named), named, QFileInfo(named).completeBaseName(), QString());
        inputs += QFileInfo(named).absoluteFilePath();
        for (const TilesetRef& ref : maps.back().tilesets) {
            if (!ref.tileset->file.isEmpty()) {
                inputs += ref.tileset->file;
            }
        }
    }
    ExportSheets sheets(request.extrude);
    for (const TiledMap& map : maps) {
        sheets.Gather(map);
    }
    inputs += sheets.Inputs();
    std::int64_t worldX = 0;
    for (std::size_t k = 0; request.engine == Engine::Ldtk && k < maps.size(); ++k) {
        if (const QString refusal = LdtkRefusal(maps[k], sheets, worldX); !refusal.isEmpty()) {
            throw Refused(places[static_cast<qsizetype>(k)] + refusal, sources[static_cast<qsizetype>(k)]);
        }
    }
    for (const QString& input : inputs) {
        if (OutputFiles::Holds(folder, input)) {
            throw Refused(QStringLiteral("--out %1 holds %2, which is read; give a folder of its own").arg(request.out, input));
        }
    }
    std::vector<OutFile> files;
    ExportCounts counts;
    const QString absolute = QFileInfo(folder).absoluteFilePath();
    const auto baseOf = [&](std::size_t k) { return bases[static_cast<qsizetype>(k)]; };
    if (request.engine == Engine::Phaser) {
        PhaserPictures pictures;
        PhaserPlan plan;
        for (const TiledMap& map : maps) {
            plan.Add(map, sheets);
        }
        for (std::size_t k = 0; k < maps.size(); ++k) {
            files.push_back({(request.name.isEmpty() ? baseOf(k) : request.name) + ".json",
                             PhaserMap(maps[k], baseOf(k), sheets, plan, absolute, counts, pictures)});
        }
        // Image layers' pictures travel with their maps.
        for (const auto& [source, name] : pictures.names) {
            if (const auto embedded = pictures.embedded.find(name); embedded != pictures.embedded.end()) {
                files.push_back({name, embedded->second});
                continue;
            }
            files.push_back({name, ReadWholeFile(source)});
            inputs += source;
        }
    } else if (request.engine == Engine::Ldtk) {
        LdtkWriter writer(sheets, absolute);
        for (std::size_t k = 0; k < maps.size(); ++k) {
            writer.Level(maps[k], baseOf(k), counts);
        }
        const QString project = QFileInfo(request.maps.front()).completeBaseName();
        files.push_back({(request.name.isEmpty() ? project : request.name) + ".ldtk", writer.Project(counts)});
    } else {
        const GodotRoot root = FindGodotRoot(absolute);
        result.resourceRoot = root.folder;
        result.godotProject = root.project;
        const GodotExport godot = GodotFiles(maps, bases, request.name, sheets, folder,
                                             root.ResPath(absolute), counts);
        if (!godot.refusal.isEmpty()) {
            throw Refused(godot.refusal, godot.file);
        }
        for (const GodotFile& file : godot.files) {
            files.push_back({file.name, file.bytes});
        }
        inputs += godot.read;
    }
    for (int sheet = 0; sheet < static_cast<int>(sheets.Sheets().size()); ++sheet) {
        if (sheets.SheetSize(sheet).isEmpty()) {
            throw Refused(QStringLiteral("this sheet would be larger than the largest picture"), sheets.FileName(sheet));
        }
        files.push_back({sheets.FileName(sheet), sheets.Png(sheet)});
    }
    std::set<QString> taken;
    for (const OutFile& file : files) {
        if (!taken.insert(file.name.toLower()).second) {
            throw Refused(QStringLiteral("two files of the export would both have this name; rename a map or tileset"), file.name);
        }
    }
    // Runs into one --out take turns (its parent is locked: the folder itself is swapped).
    // Stages that killed runs left beside it and in it go.
    const QString clean = QDir::cleanPath(request.out);
    OutputFiles::Folder(QFileInfo(clean).absolutePath());
    const QString real = QFileInfo(clean).canonicalFilePath();
    const FileLock turn(real.isEmpty() ? clean : real);
    if (!real.isEmpty()) {
        OutputFiles::Folder(QFileInfo(real).absolutePath());
        OutputFiles::Folder(real);
    }
    StagingFolder staging(request.out, StagingFolder::Replace::Folder);
    for (const OutFile& file : files) {
        staging.Write(ToFsPath(file.name).string(), file.bytes.constData(), static_cast<std::size_t>(file.bytes.size()));
    }
    staging.Commit([](const QString&) {});
    for (const OutFile& file : files) {
        result.written += folder + file.name;
    }
    result.read += inputs;
    result.Count(QStringLiteral("maps"), static_cast<std::int64_t>(maps.size()));
    result.Count(QStringLiteral("layers"), counts.layers);
    result.Count(QStringLiteral("tiles"), counts.tiles);
    result.Count(QStringLiteral("sheets"), static_cast<std::int64_t>(sheets.Sheets().size()));
    result.Count(QStringLiteral("objects"), counts.objects);
    result.Count(QStringLiteral("objectsLeftOut"), counts.objectsLeftOut);
    result.Count(QStringLiteral("layersLeftOut"), counts.layersLeftOut);
    result.Count(QStringLiteral("tintsLeftOut"), counts.tintsLeftOut);
    result.Count(QStringLiteral("blendsLeftOut"), counts.blendsLeftOut);
    result.Count(QStringLiteral("propertiesLeftOut"), counts.propertiesLeftOut);
    result.Count(QStringLiteral("animationsLeftOut"), counts.animationsLeftOut);
    result.Count(QStringLiteral("shapesLeftOut"), counts.shapesLeftOut);
    result.Count(QStringLiteral("rotationsLeftOut"), counts.rotationsLeftOut);
    result.Count(QStringLiteral("outlinesLeftOut"), counts.outlinesLeftOut);
}
}  // namespace

ExportResult RunExport(const ExportRequest& request) {
    return RunCommand<ExportResult>(QStringLiteral("export"), [&](ExportResult& result) {
        if (request.engine == Engine::Tiled) {
            ExportProjectToTiled(request, result);
        } else {
            exportMaps(request, result);
        }
    });
}
