#pragma once

#include "tiled/tiledmodel.h"
#include "tiled/xmltree.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>
#include <vector>

// A tileset or map file that the tool edits for the user: the parsed document is kept
// beside the model, and only what an edit names changes; every other element, attribute,
// property, wang set and editor setting is written back as it was. Save writes the whole
// file at once; relative paths inside follow the file when it is saved elsewhere.
class TiledDocument {
public:
    const QString& File() const { return file_; }
    bool IsJson() const { return json_; }
    // The document itself, for edits no method here names.
    XmlNode& Xml() { return xml_; }
    QJsonObject& Json() { return object_; }
    // Every file the document names (images, tilesets, templates, file properties), absolute.
    QStringList References() const;
    // Writes the document to path (its own file when empty).
    void Save(const QString& path = QString()) const;
    // The bytes Save would write to path (its relative paths made from there).
    QByteArray Bytes(const QString& path) const;

protected:
    void load(const QString& path);
    QString relative(const QString& absolute) const;

    QString file_;
    bool json_ = false;
    XmlNode xml_;
    QJsonObject object_;
};

class TilesetDocument : public TiledDocument {
public:
    explicit TilesetDocument(const QString& path);
    // As read; edits do not change it.
    const TiledTileset& Model() const { return model_; }

    // An attribute of the tileset ("margin", "spacing", "tilecount", "columns", "name"...).
    void SetNumber(const QString& attribute, int value);
    // The sheet image: its path (absolute) and size.
    void SetImage(const QString& source, QSize size);
    // A new tile of an image collection.
    void AppendTile(int id, const QString& source, QSize size);
    // Gives each tile its new id (-1 drops it): tiles, animation frames and wang tiles.
    void RenumberTiles(const std::function<int(int)>& newId);

private:
    TiledTileset model_;
};

class MapDocument : public TiledDocument {
public:
    explicit MapDocument(const QString& path);
    const TiledMap& Model() const { return model_; }

    // Gives every placed gid (flip bits included) its new value: every tile layer, written
    // back in the encoding it was read in, and every tile object.
    void RenumberGids(const std::function<std::uint32_t(std::uint32_t)>& newGid);
    // Replaces the map's tilesets by these external ones: first gid and absolute path.
    void SetTilesets(const std::vector<std::pair<std::uint32_t, QString>>& tilesets);

private:
    TiledMap model_;
};
