#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <vector>

// A tileset file of the Tiled map editor (TSX) as this tool writes them: an image
// collection (one image per tile, ids 0 to n-1) or one sheet cut by its grid. A file that is
// no such tileset gives 481 with the reason; 53 where it is missing.
class TilesetReader {
public:
    explicit TilesetReader(const QString& tsxPath);

    QSize Tile() const { return tile_; }
    bool IsCollection() const { return collection_; }
    // Collection: the image of each tile by id. Sheet: the one sheet image. Absolute paths.
    const QStringList& Sources() const { return sources_; }
    std::int32_t Count() const { return count_; }

    // Every tile's picture by id, each the tile size (see picture files for the formats).
    std::vector<QImage> LoadTiles() const;
    // The pictures of these ids only, in their order: a sheet of many small tiles costs what
    // a map places, not what the sheet holds. 9 for an id past the tileset's tiles.
    std::vector<QImage> LoadTiles(const std::vector<std::int32_t>& ids) const;

private:
    std::vector<QImage> load(const std::vector<std::int32_t>* only) const;

    QString path_;
    QSize tile_;
    bool collection_ = false;
    int margin_ = 0;
    int spacing_ = 0;
    int columns_ = 0;
    std::int32_t count_ = 0;
    QStringList sources_;
};
