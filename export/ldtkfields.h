#pragma once

#include "export/exportcounts.h"
#include "tiled/tiledmodel.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QRect>
#include <QString>

#include <functional>
#include <optional>
#include <set>
#include <vector>

// Tiled properties as LDtk fields: a definition per property name, of the LDtk type its
// values take. Int and float met under one name widen to Float, other mixtures to String; an
// int beyond LDtk's 32 bits is a Float; class values have no LDtk type and are counted.
class LdtkFields {
public:
    enum class Type { Int, Float, Bool, String, Text, Color, Path, EntityRef, Tile };
    struct Def {
        QString identifier;
        QString property;  // the Tiled property's name; empty for the tile of a tile object
        Type type = Type::String;
        int tileset = 0;  // Tile: the tileset's uid
        int uid = 0;
    };
    // How a value leaves its map: a file path as the project reaches it, an object id as a
    // reference to its entity (an EntityReferenceInfos, empty where that is no entity), and
    // a tile object's tile.
    struct Context {
        std::function<QString(const QString&)> path;
        std::function<QJsonObject(int)> entity;
        std::optional<QRect> tile;
    };

    void Add(const std::vector<TiledProperty>& properties, ExportCounts& counts);
    // The field holding a tile object's tile, drawn from the tileset of that uid.
    void AddTile(int tileset);
    // Gives each definition its uid, counting on from next.
    void Number(int& next);
    QJsonArray Definitions() const;
    // The values of one entity or level, in the order of the definitions.
    QJsonArray Instances(const std::vector<TiledProperty>& properties, const Context& context) const;
    bool Empty() const { return defs_.empty(); }

private:
    std::vector<Def> defs_;
    std::set<QString> taken_;  // identifiers, lower case
};

// A name as LDtk takes an identifier: letters, digits and '_', no digit first.
QString LdtkIdentifier(const QString& name);
// The same, capitalized as LDtk's default identifier style does.
QString LdtkCapitalized(const QString& name);
// A text as LDtk stores it in a field or a tile's custom data: '\' doubled, line ends as "\n".
QString LdtkEscaped(const QString& text);
// An iid that stays the same from one export of the same maps to the next.
QString LdtkIid(const QString& what);
// An identifier not yet taken (case aside): wanted, else wanted_2, wanted_3, ...
QString LdtkUnique(const QString& wanted, std::set<QString>& taken);
