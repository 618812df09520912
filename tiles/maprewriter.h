#pragma once

#include "tiles/gidmap.h"
#include "tiles/tilecensus.h"

#include <QString>

// A map file of the Tiled map editor written again as another file, on one new tileset:
// its tilesets replaced by the tileset file from gid 1, every gid of its tile layers (in the
// encoding each was read in) and tile objects moved by the gid map, and the paths of image
// layers, templates and file properties made relative to the new file's folder. Every other
// element, attribute and value stays as it was. The new file is written whole.
void RewriteMap(const QString& from, const QString& to, const QString& tileset, const GidMap& gids,
                const TileCensus& census);

// The same for each format (.tmx and .tmj); the bytes of the new file.
QByteArray RewriteTmx(const QString& from, const QString& to, const QString& tileset, const GidMap& gids,
                      const TileCensus& census);
QByteArray RewriteTmj(const QString& from, const QString& to, const QString& tileset, const GidMap& gids,
                      const TileCensus& census);

// A path as a file holds it (relative to the file from), as the file to holds it: relative
// to to's folder. Empty and absolute paths stay as they are.
QString MovedPath(const QString& from, const QString& to, const QString& reference);

// The bytes of a file; 53 where it is missing.
QByteArray FileBytes(const QString& path);
