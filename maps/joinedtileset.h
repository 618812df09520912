#pragma once

#include "maps/tilecensus.h"
#include "tiled/xmltree.h"

#include <QByteArray>
#include <QSize>
#include <QString>

#include <unordered_map>
#include <vector>

// The one tileset (TSX element tree) of the tiles a census kept from several tilesets: the
// tileset-level data of the first one used, each kept tile's element with its ids renumbered,
// and every wang set of every input with its tiles renumbered.
class JoinedTileset {
public:
    // The <tileset> element of each input tileset by its census number (a map's embedded
    // one or a .tsx file's root); they must outlive this.
    explicit JoinedTileset(std::vector<const XmlNode*> inputs);

    // The <tile> element of an input tile, or nullptr where it has none.
    const XmlNode* TileElement(TileRef ref) const;
    // What must be equal, besides the pixels, for two tiles to be one: the tile's element as
    // a canonical text (no id, no image, blanks dropped); an animated tile's frames are ids of
    // its own tileset, so its tileset is part of it.
    QByteArray Metadata(TileRef ref) const;
    // False for a tile that must keep its orientation: one with collision shapes or an
    // animation, a frame of an animation, a tile of a wang set (neither can carry flips).
    bool Orientable(TileRef ref) const;
    // The frames of the tile's animation, as tiles of its tileset (empty for none).
    std::vector<TileRef> Frames(TileRef ref) const;

    // The tileset of the census's tiles on one sheet image: tilecount, columns and the
    // image as given, no margin or spacing.
    XmlNode Compose(const TileCensus& census, int columns, const QString& imageSource, QSize imageSize) const;

private:
    std::vector<const XmlNode*> inputs_;
    std::vector<std::vector<std::int32_t>> fixed_;  // ids of frames and wang tiles, by tileset
    // The first <tile> element of each id, by tileset: tiles are looked up once for each use.
    std::vector<std::unordered_map<std::int32_t, const XmlNode*>> elements_;
};
