#pragma once

#include "commands/commandresult.h"

// Export: maps written for a game engine into a folder of their own, with the sheets their
// tiles are drawn from.
enum class Engine { Phaser, Godot, Ldtk, Tiled };

struct ExportRequest {
    QStringList maps;
    Engine engine = Engine::Phaser;
    QString out;     // the folder written whole
    int extrude = 0;  // pixels the sheets' tiles are extruded by
    QString name;    // the file name (no extension) of the map (Phaser, one map), the TileSet (Godot) or the project (LDtk)
};

struct ExportResult : CommandResult {
    QString engine;  // "Phaser", "Godot", "LDtk"
    QString resourceRoot;  // Godot: the folder res:// stands for
    bool godotProject = false;  // Godot: that folder holds project.godot
};

ExportResult RunExport(const ExportRequest& request);

// export --to tiled: each level of an LDtk project as a Tiled map (LEVEL.tmx), its tilesets as
// .tsx beside their sheets, a .world per world placing the levels as LDtk does.
void ExportProjectToTiled(const ExportRequest& request, ExportResult& result);
