#pragma once

#include "export/exportcounts.h"
#include "export/exportsheets.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <set>

// The objects of a map's object layers as Godot nodes under the layer's Node2D, where Tiled
// draws them: tile objects as Sprite2D (a region of the sheet, scaled to the object's size,
// aligned as the tileset says, flipped, turned), points as Marker2D, rectangles, ellipses and
// polygons as an Area2D holding a CollisionPolygon2D (an ellipse by 24 points, a polyline as
// segments); the object's id, name, class and properties as node metadata. Text and template
// objects are left out and counted. Image layers as Sprite2D of their picture, copied into
// the export's folder.
class GodotObjects {
public:
    // res is the res:// path of the folder the sheets are in; pictures the file names there of
    // the image layers' pictures copied (by source), shared by the scenes of an export.
    GodotObjects(const ExportSheets& sheets, const TiledMap& map, QString res, std::map<QString, QString>& pictures)
        : sheets_(sheets), map_(map), res_(std::move(res)), pictures_(pictures) {}

    // The nodes of the layer's objects, children of parent.
    QByteArray Nodes(const TiledLayer& layer, const QString& parent, ExportCounts& counts);
    // The properties of an image layer's Sprite2D (after its position, visibility and
    // modulate); empty where it is not drawn so (an embedded or repeated picture).
    QByteArray ImageLayer(const TiledLayer& layer);
    // The ext_resource lines of the sheets the tile objects draw from and of the pictures.
    QByteArray Resources() const;
    int ResourceCount() const { return static_cast<int>(textures_.size() + images_.size()); }

private:
    QPointF screen(QPointF at) const;
    QByteArray tileObject(const TiledObject& object, ExportCounts& counts);
    QByteArray shape(const TiledObject& object, const QString& path);

    const ExportSheets& sheets_;
    const TiledMap& map_;
    QString res_;
    std::set<int> textures_;  // sheets
    std::map<QString, int> images_;  // file names in the folder, and their ids
    std::map<QString, QString>& pictures_;
};

// A shape object's outline in its own frame (an ellipse by 24 points); empty for a point.
std::vector<QPointF> GodotOutline(const TiledObject& object);
// A closed shape's outline where it lies (moved and turned as the object is), as one polygon;
// empty for points, polylines, text and tiles.
std::vector<QPointF> GodotShape(const TiledObject& object);

// Properties as a node's metadata lines, their names made identifiers.
QByteArray GodotMetadata(const std::vector<TiledProperty>& properties);
