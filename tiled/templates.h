#pragma once

#include "tiled/tiledmodel.h"

#include <QByteArray>

// Tiled's object templates: a .tx (XML) or .tj (JSON) file holding one object and the
// tileset its gid is in, named by the template's own folder.

struct TiledTemplate {
    TiledObject object;
    std::uint32_t firstGid = 1;              // of the template's tileset, in the template
    std::shared_ptr<TiledTileset> tileset;   // null where the template names none
};

// A template file's content; with tilesets false its tileset is only referred to. 481
// naming the template for one that is no template.
TiledTemplate ReadTemplate(const QString& file, const QByteArray& bytes, bool tilesets = true);

// Records every template the map's objects name and, with tilesets, makes each instance the
// template's object with the instance's own attributes over it. A tileset only templates use
// is added to the map's tilesets as viaTemplate, past its own gids. 481 naming the map for a
// missing template, naming the template for a broken one.
void ResolveTemplates(TiledMap& map, bool tilesets);
