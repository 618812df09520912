#include "commands/export.h"

#include "export/exportsheets.h"
#include "export/godotwriter.h"
#include "export/ldtkwriter.h"
#include "export/phaserwriter.h"
#include "runtime/filelock.h"
#include "runtime/outputfiles.h"
#include "runtime/paths.h"
#include "runtime/stagingfolder.h"
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
    const bool orthogonal = map.orientation == "orthogonal";
    if (!orthogonal && (engine != Engine::Phaser || map.orientation != "isometric")) {
        throw Refused(QStringLiteral("a %1 map, which export to %2 does not write").arg(map.orientation, engineName(engine)), named);
    }
}

// The folder res:// stands for: the nearest one above the export's folder (or it) that holds
// a Godot project, else the export's folder.
void godotRoot(const QString& folder, ExportResult& result) {
    for (QDir dir(folder);;) {
        if (QFileInfo::exists(dir.filePath(QStringLiteral("project.godot")))) {
            result.resourceRoot = dir.absolutePath();
            result.godotProject = true;
            return;
        }
        if (!dir.cdUp()) {
            break;
        }
    }
    result.resourceRoot = QDir(folder).absolutePath();
}

void exportMaps(const ExportRequest& request, ExportResult& result) {
    result.engine = engineName(request.engine);
    if (request.out.isEmpty()) {
        throw Refused(QStringLiteral("export needs --out DIR"));
    }
    if (request.name.contains('/') || request.name.contains(QDir::separator())) {
        throw Refused(QStringLiteral("--name %1: a file name without folders, written into --out").arg(request.name));
    }
    if (request.engine == Engine::Phaser && !request.name.isEmpty() && request.maps.size() > 1) {
        throw Refused(QStringLiteral("--name names the one map's file; each of several maps keeps its own name"));
    }
    const QString folder = AsFolder(request.out);
    std::vector<TiledMap> maps;
    std::set<QString> names;
    QStringList inputs;
    for (const QString& named : request.maps) {
        // A .json is read as Tiled's JSON map; one that holds no map is refused by the reader.
        if (!IsTiledMapName(named) && QFileInfo(named).suffix().compare("json", Qt::CaseInsensitive) != 0) {
            throw Refused(QStringLiteral("not a map file (.tmx, .tmj or .json)"), named);
        }
        if (!QFileInfo(named).isFile()) {
            throw Refused(NoSource, named);
        }
        maps.push_back(LoadMap(named));
        refuseMap(maps.back(), named, request.engine);
        // Only Phaser names a map's file by --name; the others name their one shared file by it.
        const QString base = request.name.isEmpty() || request.engine != Engine::Phaser ? QFileInfo(named).completeBaseName() : request.name;
        if (!names.insert(base.toLower()).second) {
            throw Refused(QStringLiteral("another map has the same name %1; export them apart").arg(base), named);
        }
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
    for (std::size_t k = 0; request.engine == Engine::Ldtk && k < maps.size(); ++k) {
        if (const QString refusal = LdtkRefusal(maps[k], sheets); !refusal.isEmpty()) {
            throw Refused(refusal, request.maps[static_cast<qsizetype>(k)]);
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
    const auto baseOf = [&](std::size_t k) { return QFileInfo(request.maps[static_cast<qsizetype>(k)]).completeBaseName(); };
    if (request.engine == Engine::Phaser) {
        for (std::size_t k = 0; k < maps.size(); ++k) {
            files.push_back({(request.name.isEmpty() ? baseOf(k) : request.name) + ".json", PhaserMap(maps[k], sheets, absolute, counts)});
        }
    } else if (request.engine == Engine::Ldtk) {
        LdtkWriter writer(sheets);
        for (std::size_t k = 0; k < maps.size(); ++k) {
            writer.Level(maps[k], baseOf(k), counts);
        }
        files.push_back({(request.name.isEmpty() ? baseOf(0) : request.name) + ".ldtk", writer.Project()});
    } else {
        const QString tileset = (request.name.isEmpty() ? QStringLiteral("tileset") : request.name) + ".tres";
        godotRoot(absolute, result);
        const QString relative = QDir(result.resourceRoot).relativeFilePath(absolute);
        GodotWriter writer(sheets, relative == "." ? QStringLiteral("res://") : QStringLiteral("res://%1/").arg(relative), tileset);
        for (std::size_t k = 0; k < maps.size(); ++k) {
            files.push_back({baseOf(k) + ".tscn", writer.Scene(maps[k], baseOf(k), counts)});
        }
        files.push_back({tileset, writer.TileSet()});
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
}
}  // namespace

ExportResult RunExport(const ExportRequest& request) {
    return RunCommand<ExportResult>(QStringLiteral("export"), [&](ExportResult& result) { exportMaps(request, result); });
}
