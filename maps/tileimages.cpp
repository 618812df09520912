#include "maps/tileimages.h"

#include "imaging/picturefile.h"
#include "imaging/sheetbands.h"
#include "runtime/limits.h"
#include "runtime/runtimeerror.h"
#include "sheets/tileindex.h"
#include "tiled/tiledvalues.h"

#include <QFileInfo>
#include <QPainter>

#include <algorithm>

namespace {
// A conversion that could not get its memory gives a null picture, not an exception.
QImage held(QImage image) {
    if (image.isNull()) {
        RaiseError(Err::OutOfMemory);
    }
    return image;
}

QImage withoutTrans(QImage image, std::optional<QRgb> trans) {
    image = held(image.convertToFormat(QImage::Format_ARGB32));
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
    return held(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
}
}  // namespace

QImage TiledPicture(const QString& path, std::optional<QRgb> trans) {
    if (!QFileInfo(path).isFile()) {
        InvalidMapFile(path, QStringLiteral("the image is missing"));
    }
    return AboutFile(path, [&] { return withoutTrans(InTileFormat(LoadPicture(path)), trans); });
}

QImage TiledPicture(const TiledImage& image, const QString& owner) {
    if (!image.source.isEmpty()) {
        return TiledPicture(image.source, image.trans);
    }
    QImage embedded;
    if (!embedded.loadFromData(image.data) || embedded.width() > Limits::PictureSide || embedded.height() > Limits::PictureSide) {
        InvalidMapFile(owner, QStringLiteral("an embedded image is no picture, or larger than %1 pixels a side").arg(Limits::PictureSide));
    }
    return AboutFile(owner, [&] { return withoutTrans(embedded, image.trans); });
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
    const int id = static_cast<int>(GidTile(gid) - ref->firstGid);
    if (!tileset.IsCollection()) {
        Sheet& sheet = sheets_[&tileset];
        if (sheet.cut.count(id) == 0) {
            sheet.marked.insert(id);
        }
        largest_ = std::max({largest_, tileset.tile.width(), tileset.tile.height()});
        return;
    }
    const auto tile = tileset.tiles.find(id);
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

void TileImages::Load() {
    for (auto& [tileset, sheet] : sheets_) {
        if (!sheet.marked.empty()) {
            read(*tileset, sheet);
        }
    }
}

void TileImages::read(const TiledTileset& tileset, Sheet& sheet) {
    const QString owner = tileset.file.isEmpty() ? map_.file : tileset.file;
    const TiledImage& image = tileset.image;
    // An embedded sheet is small and whole already; a file is read in bands.
    QImage whole;
    std::unique_ptr<SheetBands> bands;
    QSize size;
    if (image.source.isEmpty()) {
        whole = TiledPicture(image, owner);
        size = whole.size();
    } else {
        if (!QFileInfo(image.source).isFile()) {
            InvalidMapFile(image.source, QStringLiteral("the image is missing"));
        }
        bands = std::make_unique<SheetBands>(image.source);
        size = bands->Size();
    }
    CheckSheetHoldsATile(owner, size, tileset.tile, tileset.margin);
    const QSize tile = tileset.tile;
    const int columns = SheetCells(size.width(), tile.width(), tileset.margin, tileset.spacing);
    const int rows = SheetCells(size.height(), tile.height(), tileset.margin, tileset.spacing);
    const QString file = image.source.isEmpty() ? owner : image.source;
    auto id = sheet.marked.begin();
    while (id != sheet.marked.end()) {
        const int row = *id / columns;
        if (row >= rows) {
            for (; id != sheet.marked.end(); ++id) {
                sheet.cut.emplace(*id, QImage());
            }
            break;
        }
        const int top = tileset.margin + row * (tile.height() + tileset.spacing);
        const QImage band = whole.isNull() ? AboutFile(file, [&] { return withoutTrans(InTileFormat(bands->Rows(top, tile.height())), image.trans); })
                                           : whole.copy(0, top, size.width(), tile.height());
        for (; id != sheet.marked.end() && *id / columns == row; ++id) {
            const int left = tileset.margin + (*id % columns) * (tile.width() + tileset.spacing);
            sheet.cut.emplace(*id, AboutFile(file, [&] { return held(band.copy(left, 0, tile.width(), tile.height())); }));
        }
    }
    sheet.marked.clear();
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
    Sheet& sheet = sheets_[&tileset];
    if (sheet.cut.count(id) == 0) {
        // A tile no one marked (none should be): its sheet is read again for it.
        sheet.marked.insert(id);
        read(tileset, sheet);
    }
    return sheet.cut.at(id);
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
