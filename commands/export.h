#pragma once

#include "commands/commandresult.h"

// Export: maps written for a game engine into a folder of their own, with the sheets their
// tiles are drawn from.
enum class Engine { Phaser, Godot };

struct ExportRequest {
    QStringList maps;
    Engine engine = Engine::Phaser;
    QString out;     // the folder written whole
    int extrude = 0;  // pixels the sheets' tiles are extruded by
    QString name;    // the file name (no extension) of the map (Phaser, one map) or the TileSet (Godot)
};

struct ExportResult : CommandResult {
    QString engine;  // "Phaser", "Godot"
    QString resourceRoot;  // Godot: the folder res:// stands for
    bool godotProject = false;  // Godot: that folder holds project.godot
};

ExportResult RunExport(const ExportRequest& request);
