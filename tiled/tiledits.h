#pragma once

#include "tiled/xmltree.h"

#include <QDir>
#include <QJsonObject>

#include <cstdint>
#include <functional>

// The edits of TiledDocument on each form of the document: XML (tmxedit.cpp) and JSON
// (tmjedit.cpp).

// Every path the document names (images, tilesets, templates, file properties), as written;
// visit may change it.
void ForEachXmlPath(XmlNode& root, const std::function<void(QString&)>& visit);
void ForEachJsonPath(QJsonObject& object, const std::function<void(QString&)>& visit);

// Paths relative to from made relative to to: images, tilesets, templates.
void RebaseXmlPaths(XmlNode& node, const QDir& from, const QDir& to);
void RebaseJsonPaths(QJsonObject& object, const QDir& from, const QDir& to);

// Blanks inside a new element, one level deeper than its parent's children stand.
void IndentInside(const XmlNode& parent, XmlNode& element);

void RenumberXmlTiles(XmlNode& tileset, const std::function<int(int)>& newId);
void RenumberJsonTiles(QJsonObject& tileset, const std::function<int(int)>& newId);

void RenumberXmlGids(const QString& file, XmlNode& map, bool infinite, const std::function<std::uint32_t(std::uint32_t)>& newGid);
void RenumberJsonGids(const QString& file, QJsonObject& map, bool infinite,
                      const std::function<std::uint32_t(std::uint32_t)>& newGid);
