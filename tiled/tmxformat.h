#pragma once

#include "tiled/tiledmodel.h"
#include "tiled/xmltree.h"

// The XML forms of Tiled's files: maps (.tmx) and tilesets (.tsx, or embedded in a map).
// file names the document in messages and is the base of its relative paths.

// A <tileset> element of a .tsx or one embedded in a map (its firstgid is the caller's).
TiledTileset ReadTsxTileset(const QString& file, const XmlNode& element);

// A <map> document; external tilesets are read through LoadTileset.
TiledMap ReadTmxMap(const QString& file, const XmlNode& root, bool tilesets = true);

// An <object> of a map's layer or of a template (.tx).
TiledObject ReadTmxObject(const QString& file, const XmlNode& node);
