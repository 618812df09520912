#pragma once

#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>

#include "tiled/tiledfiles.h"

#include <vector>

// Tiled's world files (.world, JSON): maps placed at pixel positions, listed under "maps" or
// found by "patterns" among the files of the world's folder, as Tiled's world manager finds them.

struct WorldMap {
    QString file;     // absolute
    QPoint position;  // the map's top-left corner in the world, in pixels
    QSize size;       // as the world gives it; drawing does not use it
};

struct TiledWorld {
    QString file;
    std::vector<WorldMap> maps;  // the listed maps in order, then each pattern's matches
};


// The world in bytes, its patterns matched against folderFiles (names in the world's folder,
// in the order Tiled lists them). 481 naming the file for what Tiled would not place: no
// JSON object, a map without a file name, a pattern Tiled skips (not two captures, a
// multiplier of 0, a map size below 1), positions past the picture limits, no maps at all.
TiledWorld ReadWorld(const QString& file, const QByteArray& bytes, const QStringList& folderFiles);
// The world file read from disk, its patterns matched against its folder.
TiledWorld LoadWorld(const QString& path);
