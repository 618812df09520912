#pragma once

#include "sheets/tilegrid.h"

#include <QSize>
#include <QString>
#include <QStringList>
#include <QXmlStreamWriter>

#include <functional>

// Tilesets in the TSX format of the Tiled map editor. Image paths inside are relative to
// the tileset file; tile ids count from 0 in the order given.

// The tileset of one sheet image cut by the grid; more writes elements after the image
// (wang sets).
void WriteSheetTileset(const QString& tsxPath, const TileGrid& grid, int tileCount, int columns,
                       const QString& imagePath, QSize imageSize, const std::function<void(QXmlStreamWriter&)>& more = {});

// An image-collection tileset: tile i is imagePaths[i], each of the given size.
void WriteCollectionTileset(const QString& tsxPath, QSize tile, const QStringList& imagePaths);
