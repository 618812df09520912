#pragma once

#include "tiled/tiledmodel.h"

#include <QColor>
#include <QImage>

#include <set>
#include <unordered_map>

// The pictures of a map's tiles as Tiled draws them: premultiplied ARGB32 with the trans
// colour cleared, cut from the sheet by margin and spacing (or a collection's own image),
// then flipped and tinted, each made once.
class TileImages {
public:
    explicit TileImages(const TiledMap& map) : map_(map) {}

    // Marks the picture the gid needs; Load reads what is marked.
    void Need(std::uint32_t gid);
    // Reads every marked picture: a sheet a band of tile rows at a time, keeping only the
    // tiles marked, so that the sheets of a map are never held whole. 481 or 53 naming a
    // missing or unreadable picture, 7 naming one that cannot be held.
    void Load();
    // The tile of the gid with its flips (H, V, D) and the tint; null for a tile the sheet
    // does not reach.
    const QImage& Oriented(std::uint32_t gid, QRgb tint);
    // The tile of the gid unflipped (tile objects flip it as they draw it), tinted.
    const QImage& Plain(std::uint32_t gid, QRgb tint) { return Oriented(GidTile(gid), tint); }
    // The longest side of the pictures loaded so far, which may differ from the sizes the
    // tilesets declare.
    int LargestSide() const { return largest_; }

private:
    struct Sheet {
        std::set<int> marked;                 // ids not read yet, in the sheet's order
        std::unordered_map<int, QImage> cut;  // ids read; null past the sheet's end
    };
    void read(const TiledTileset& tileset, Sheet& sheet);
    QImage cut(const TilesetRef& ref, int id);

    const TiledMap& map_;
    std::unordered_map<const TiledTileset*, Sheet> sheets_;
    std::unordered_map<QString, QImage> files_;               // each image file read once
    std::unordered_map<const TiledImage*, QImage> pictures_;  // each collection tile's part of it
    std::unordered_map<std::uint64_t, QImage> oriented_;
    int largest_ = 0;
};

// A picture file as Tiled shows it: premultiplied ARGB32, the trans colour cleared.
QImage TiledPicture(const QString& path, std::optional<QRgb> trans);
// The same of an image a map or tileset names or embeds; owner (the file that embeds it) is
// named where an embedded image is no picture.
QImage TiledPicture(const TiledImage& image, const QString& owner);

// The image multiplied by the tint as Tiled tints layers (white or none: unchanged).
QImage Tinted(const QImage& image, QRgb tint);
