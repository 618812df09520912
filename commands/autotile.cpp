#include "commands/autotile.h"

#include "commands/godotroot.h"
#include "imaging/picturefile.h"
#include "imaging/pngwriter.h"
#include "runtime/outputfiles.h"
#include "runtime/paths.h"
#include "runtime/stagingfolder.h"
#include "terrain/blobshapes.h"
#include "terrain/terrainfiles.h"

#include <QDir>
#include <QFileInfo>

namespace {
void makeTerrains(const AutotileRequest& request, AutotileResult& result) {
    if (request.out.isEmpty()) {
        throw Refused(QStringLiteral("autotile needs --out DIR"));
    }
    if (request.name.contains('/') || request.name.contains(QDir::separator())) {
        throw Refused(QStringLiteral("--name %1: a file name without folders, written into --out").arg(request.name));
    }
    const QFileInfo source(request.source);
    if (!source.exists()) {
        throw Refused(NoSource, request.source);
    }
    if (!source.isFile() || source.size() == 0) {
        throw Refused(source.isFile() ? QStringLiteral("an empty file, no template picture") : QStringLiteral("not a file"), request.source);
    }
    const QImage picture = LoadPicture(request.source);
    result.read += request.source;
    result.tile = request.tile > 0 ? request.tile : TerrainSet::DefaultTile(picture.size(), request.layout);
    if (const QString problem = TerrainSet::Problem(picture.size(), request.layout, result.tile); !problem.isEmpty()) {
        throw Refused(problem, request.source);
    }
    const QString name = request.name.isEmpty() ? source.completeBaseName() : request.name;
    const TerrainSet set(picture, request.layout, result.tile, name);
    const QString folder = AsFolder(request.out);
    const QStringList names{name + ".png", name + ".tsx", name + ".tres", name + ".ldtk", name + "-demo.tmx"};
    for (const QString& file : names) {
        if (OutputFiles::SameFile(folder + file, request.source)) {
            throw Refused(QStringLiteral("--out %1 would replace the template with %2; give --name NAME or another folder").arg(request.out, file),
                          request.source);
        }
    }
    const GodotRoot root = FindGodotRoot(QFileInfo(folder).absoluteFilePath());
    result.resourceRoot = root.folder;
    result.godotProject = root.project;
    const QByteArray png = EncodePng(set.Sheet(), ChooseFilters(set.Sheet(), 0, set.Sheet().height()));
    const QByteArray tres = TerrainGodotTileSet(set, root.ResPath(QFileInfo(folder).absoluteFilePath()) + names[0]);
    const QByteArray ldtk = TerrainLdtkProject(set, names[0]);
    // The folders above DIR made as every command makes them; DIR itself comes whole with its files.
    OutputFiles::Folder(QFileInfo(QDir::cleanPath(request.out)).absolutePath());
    StagingFolder staging(request.out);
    const auto stagedPath = [&](const QString& file) { return staging.Path(ToFsPath(file).string()); };
    staging.Write(ToFsPath(names[0]).string(), png.constData(), static_cast<std::size_t>(png.size()));
    WriteTerrainTileset(stagedPath(names[1]), set, stagedPath(names[0]));
    staging.Write(ToFsPath(names[2]).string(), tres.constData(), static_cast<std::size_t>(tres.size()));
    staging.Write(ToFsPath(names[3]).string(), ldtk.constData(), static_cast<std::size_t>(ldtk.size()));
    WriteTerrainDemo(stagedPath(names[4]), set, stagedPath(names[1]));
    staging.Commit([](const QString&) {});
    for (const QString& file : names) {
        result.written += folder + file;
    }
    result.Count(QStringLiteral("terrains"), set.Terrains());
    result.Count(QStringLiteral("tiles"), std::int64_t{set.Terrains()} * Blob::Shapes);
    result.Count(QStringLiteral("tileSize"), result.tile);
}
}  // namespace

AutotileResult RunAutotile(const AutotileRequest& request) {
    return RunCommand<AutotileResult>(QStringLiteral("autotile"), [&](AutotileResult& result) { makeTerrains(request, result); });
}
