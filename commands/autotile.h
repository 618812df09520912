#pragma once

#include "commands/commandresult.h"
#include "terrain/terrainset.h"

// Autotile: a terrain template drawn into the 47 blob tiles of each of its terrains, with the
// files Tiled, Godot and LDtk paint them with and a demo map.
struct AutotileRequest {
    QString source;  // the template picture
    TerrainLayout layout = TerrainLayout::A2;
    QString out;     // the folder the files go in
    int tile = 0;    // the template's tile side; 0 for the default
    QString name;    // the files' base name; "" for the template's
};

struct AutotileResult : CommandResult {
    int tile = 0;
    QString resourceRoot;  // the folder res:// stands for in the TileSet
    bool godotProject = false;
};

AutotileResult RunAutotile(const AutotileRequest& request);
