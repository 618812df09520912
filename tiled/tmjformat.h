#pragma once

#include "tiled/tiledmodel.h"

#include <QByteArray>
#include <QJsonObject>

// The JSON forms of Tiled's files: maps (.tmj) and tilesets (.tsj, or embedded in a map).

// The object a document holds; 481 naming the file where it holds none.
QJsonObject ParseJsonObject(const QString& file, const QByteArray& bytes);

TiledTileset ReadTsjTileset(const QString& file, const QJsonObject& object);
TiledMap ReadTmjMap(const QString& file, const QJsonObject& root, bool tilesets = true);
// An object of a map's layer or of a template (.tj).
TiledObject ReadTmjObject(const QString& file, const QJsonObject& object);
