#include "sheets/tilemap.h"

#include "imaging/picture.h"
#include "imaging/picturefile.h"
#include "runtime/runtimeerror.h"
#include "sheets/tileformat.h"
#include "sheets/tileindex.h"

#include <algorithm>
#include <cstring>

TileMap::TileMap(QSize cells, QSize tile)
    : cells_(cells), tile_(tile),
      cells_data_(static_cast<std::size_t>(std::max(0, cells.width())) * static_cast<std::size_t>(std::max(0, cells.height()))) {}

TileMap TileMap::WithTile(QSize tile) const {
    TileMap map = *this;
    map.tile_ = tile;
    return map;
}

QSize TileMap::PictureSize() const {
    return picture_.value_or(QSize(cells_.width() * tile_.width(), cells_.height() * tile_.height()));
}

QImage TileMap::Draw(const std::vector<QImage>& tiles, TileFormat format) const {
    const QSize size = PictureSize();
    QImage picture(size, format == TileFormat::Png ? QImage::Format_RGBA8888 : QImage::Format_RGB32);
    if (picture.isNull() && !size.isEmpty()) {
        RaiseError(Err::OutOfMemory);
    }
    const QRgb empty = Background.value_or(format == TileFormat::Png ? 0u : Picture::Background().rgb());
    picture.fill(QColor::fromRgba(empty));
    for (int row = 0; row < cells_.height(); ++row) {
        for (int column = 0; column < cells_.width(); ++column) {
            const MapCell& cell = At(column, row);
            if (cell.id < 0) {
                continue;
            }
            if (static_cast<std::size_t>(cell.id) >= tiles.size()) {
                throw RuntimeError(Err::SubscriptOutOfRange,
                                   QStringLiteral("tile id %1 is not in the tileset of %2 tiles").arg(cell.id).arg(tiles.size()));
            }
            const QImage& stored = tiles[static_cast<std::size_t>(cell.id)];
            const QImage tile = OrientedTile(format == TileFormat::Png ? InTileFormat(stored).convertToFormat(picture.format())
                                                                       : OpaqueRgb32(InTileFormat(stored)),
                                             cell.flips);
            if (tile.size() != tile_) {
                throw RuntimeError(Err::InvalidPicture, QStringLiteral("tile id %1 is %2x%3, the map's tiles %4x%5")
                                                            .arg(cell.id).arg(tile.width()).arg(tile.height())
                                                            .arg(tile_.width()).arg(tile_.height()));
            }
            // A plain copy, alpha and all, clipped to the picture.
            const int x = column * tile_.width();
            const int width = std::min(tile_.width(), size.width() - x);
            for (int y = 0; y < tile_.height() && row * tile_.height() + y < size.height() && width > 0; ++y) {
                std::memcpy(picture.scanLine(row * tile_.height() + y) + 4 * static_cast<std::size_t>(x), tile.constScanLine(y),
                            4 * static_cast<std::size_t>(width));
            }
        }
    }
    return picture;
}
