#include "maps/tileimages.h"

#include "imaging/picturefile.h"
#include "runtime/limits.h"
#include "runtime/runtimeerror.h"
#include "sheets/tileindex.h"
#include "tiled/tiledvalues.h"

#include <QFileInfo>
#include <QPainter>

#include <algorithm>

namespace {
QImage withoutTrans(QImage image, std::optional<QRgb> trans) {
    image = image.convertToFormat(QImage::Format_ARGB32);
    if (trans) {
        const QRgb key = *trans | 0xFF000000u;
        for (int y = 0; y < image.height(); ++y) {
            QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                if (row[x] == key) {
                    row[x] = 0;
                }
            }
        }
    }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}
}  // namespace

QImage TiledPicture(const QString& path, std::optional<QRgb> trans) {
    if (!QFileInfo(path).isFile()) {
        InvalidMapFile(path, QStringLiteral("the image is missing"));
    }
    return withoutTrans(InTileFormat(LoadPicture(path)), trans);
}

QImage TiledPicture(const TiledImage& image, const QString& owner) {
    if (!image.source.isEmpty()) {
        return TiledPicture(image.source, image.trans);
    }
    QImage embedded;
    if (!embedded.loadFromData(image.data) || embedded.width() > Limits::PictureSide || embedded.height() > Limits::PictureSide) {
        InvalidMapFile(owner, QStringLiteral("an embedded image is no picture, or larger than %1 pixels a side").arg(Limits::PictureSide));
    }
    return withoutTrans(embedded, image.trans);
}

QImage Tinted(const QImage& image, QRgb tint) {
    if (tint == 0xFFFFFFFFu || image.isNull()) {
        return image;
    }
    QImage result = image;
    QPainter painter(&result);
    painter.setCompositionMode(QPainter::CompositionMode_Multiply);
    painter.fillRect(result.rect(), QColor::fromRgb(tint | 0xFF000000u));
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    painter.drawImage(0, 0, image);
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    painter.fillRect(result.rect(), QColor::fromRgba(tint));
    painter.end();
    return result;
}

void TileImages::Need(std::uint32_t gid) {
    const TilesetRef* ref = map_.TilesetOf(gid);
    if (ref == nullptr) {
        return;
    }
    const TiledTileset& tileset = *ref->tileset;
    if (!tileset.IsCollection()) {
        if (sheets_.count(&tileset) == 0) {
            const QString file = tileset.file.isEmpty() ? map_.file : tileset.file;
            Sheet sheet{TiledPicture(tileset.image, file), 0, 0};
            CheckSheetHoldsATile(file, sheet.image.size(), tileset.tile, tileset.margin);
            sheet.columns = SheetCells(sheet.image.width(), tileset.tile.width(), tileset.margin, tileset.spacing);
            sheet.rows = SheetCells(sheet.image.height(), tileset.tile.height(), tileset.margin, tileset.spacing);
            sheets_.emplace(&tileset, std::move(sheet));
            largest_ = std::max({largest_, tileset.tile.width(), tileset.tile.height()});
        }
        return;
    }
    const auto tile = tileset.tiles.find(static_cast<int>(GidTile(gid) - ref->firstGid));
    if (tile != tileset.tiles.end() && pictures_.count(&tile->second.image) == 0) {
        const TiledImage& image = tile->second.image;
        auto file = files_.find(image.source);
        if (file == files_.end() || image.source.isEmpty()) {
            file = files_.insert_or_assign(image.source, TiledPicture(image, tileset.file.isEmpty() ? map_.file : tileset.file)).first;
        }
        QImage picture = file->second;
        const QRect part = tile->second.imageRect;
        if (!part.isEmpty()) {
            // The tile is part of its image (1.9); a part past the image is clipped to it.
            picture = picture.copy(part & picture.rect());
        }
        largest_ = std::max({largest_, picture.width(), picture.height()});
        pictures_.emplace(&tile->second.image, std::move(picture));
    }
}

QImage TileImages::cut(const TilesetRef& ref, int id) {
    const TiledTileset& tileset = *ref.tileset;
    if (tileset.IsCollection()) {
        const auto tile = tileset.tiles.find(id);
        if (tile == tileset.tiles.end()) {
            return QImage();
        }
        Need(ref.firstGid + static_cast<std::uint32_t>(id));
        return pictures_.at(&tile->second.image);
    }
    Need(ref.firstGid);
    const Sheet& sheet = sheets_.at(&tileset);
    if (sheet.columns == 0 || id / sheet.columns >= sheet.rows) {
        return QImage();
    }
    return sheet.image.copy(tileset.margin + (id % sheet.columns) * (tileset.tile.width() + tileset.spacing),
                            tileset.margin + (id / sheet.columns) * (tileset.tile.height() + tileset.spacing),
                            tileset.tile.width(), tileset.tile.height());
}

const QImage& TileImages::Oriented(std::uint32_t gid, QRgb tint) {
    // The 120° bit means nothing on an orthogonal map.
    const std::uint32_t placed = gid & ~GidFlag::Rotated120;
    const std::uint64_t key = std::uint64_t{placed} | std::uint64_t{tint} << 32;
    const auto found = oriented_.find(key);
    if (found != oriented_.end()) {
        return found->second;
    }
    const TilesetRef* ref = map_.TilesetOf(placed);
    QImage image;
    if (ref != nullptr) {
        image = cut(*ref, static_cast<int>(GidTile(placed) - ref->firstGid));
        if (!image.isNull() && (placed & GidFlag::Flips) != 0) {
            image = OrientedTile(image, placed & GidFlag::Flips);
        }
        image = Tinted(image, tint);
    }
    return oriented_.emplace(key, std::move(image)).first->second;
}
