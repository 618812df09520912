#include "export/exportsheets.h"

#include "imaging/picturefile.h"
#include "imaging/pngchunks.h"
#include "imaging/pngwriter.h"
#include "maps/tileimages.h"
#include "runtime/limits.h"
#include "runtime/runtimeerror.h"
#include "sheets/sheetbuilder.h"
#include "sheets/sheetextruder.h"
#include "tiled/tiledvalues.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <functional>
#include <set>

namespace {
// A tileset's name as a file name and an engine's key: letters, digits, '-' and '_'.
QString plainName(const QString& name) {
    QString plain = name;
    plain.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]+")), QStringLiteral("_"));
    return plain.isEmpty() ? QStringLiteral("tileset") : plain;
}

// The tilesets whose tiles the map places, in layers and tile objects.
std::set<const TiledTileset*> usedTilesets(const TiledMap& map) {
    // Each tileset's first gid, highest first, the later of two alike first as TilesetOf
    // takes it: looking each cell's tileset up with TilesetOf took a tenth of a big map's export.
    std::vector<std::pair<std::uint32_t, std::size_t>> starts;
    for (std::size_t k = 0; k < map.tilesets.size(); ++k) {
        starts.emplace_back(map.tilesets[k].firstGid, k);
    }
    std::sort(starts.begin(), starts.end(), std::greater<>());
    std::vector<char> placed(map.tilesets.size(), 0);
    const auto add = [&](std::uint32_t gid) {
        const std::uint32_t tile = GidTile(gid);
        if (tile == 0) {
            return;
        }
        for (const auto& [first, k] : starts) {
            if (first <= tile) {
                placed[k] = 1;
                return;
            }
        }
    };
    ForEachLayer(map.layers, [&](const TiledLayer& layer) {
        for (const TiledChunk& chunk : layer.chunks) {
            for (const std::uint32_t gid : chunk.gids) {
                add(gid);
            }
        }
        for (const TiledObject& object : layer.objects) {
            add(object.gid);
        }
    });
    std::set<const TiledTileset*> used;
    for (std::size_t k = 0; k < placed.size(); ++k) {
        if (placed[k] != 0) {
            used.insert(map.tilesets[k].tileset.get());
        }
    }
    return used;
}

// The picture file of a tileset or tile, opened: its header read, its pixels not yet.
std::unique_ptr<PictureFile> openPicture(const QString& path) {
    if (!QFileInfo(path).isFile()) {
        InvalidMapFile(path, QStringLiteral("the image is missing"));
    }
    return std::make_unique<PictureFile>(path);
}

QImage decoded(PictureFile& file, std::optional<QRgb> trans) {
    file.Decode();
    return StraightPicture(file.Image(), trans);
}
}  // namespace

QImage StraightPicture(const QImage& decoded, std::optional<QRgb> trans) {
    QImage image = InTileFormat(decoded).convertToFormat(QImage::Format_RGBA8888);
    if (trans) {
        const QRgb key = qRgba(qRed(*trans), qGreen(*trans), qBlue(*trans), 255);
        for (int y = 0; y < image.height(); ++y) {
            uchar* row = image.scanLine(y);
            for (int x = 0; x < image.width(); ++x) {
                uchar* p = row + 4 * x;
                if (qRgba(p[0], p[1], p[2], p[3]) == key) {
                    p[0] = p[1] = p[2] = p[3] = 0;
                }
            }
        }
    }
    return image;
}

int ExportSheets::newSheet(const QString& name, QSize tile) {
    QString unique = plainName(name);
    for (int n = 2;; ++n) {
        bool taken = false;
        for (const Sheet& sheet : sheets_) {
            taken = taken || sheet.name.compare(unique, Qt::CaseInsensitive) == 0;
        }
        if (!taken) {
            break;
        }
        unique = plainName(name) + QStringLiteral("-%1").arg(n);
    }
    Sheet sheet;
    sheet.name = unique;
    sheet.tile = tile;
    sheets_.push_back(std::move(sheet));
    pictures_.emplace_back();
    return static_cast<int>(sheets_.size()) - 1;
}

void ExportSheets::gatherSheet(const TiledTileset& tileset, const QString& owner, Gathered& into) {
    // A sheet the map holds (Tiled's image data, an LDtk project's Aseprite or IntGrid sheet)
    // has no file: it is decoded whole now.
    const bool held = tileset.image.source.isEmpty();
    std::unique_ptr<PictureFile> file;
    QImage decodedHeld;
    if (held) {
        decodedHeld = StraightPicture(TiledPicture(tileset.image, owner), std::nullopt);
    } else {
        file = openPicture(tileset.image.source);
        inputs_ += tileset.image.source;
    }
    const TileGrid grid(tileset.tile, tileset.margin, tileset.spacing);
    const QSize size = held ? decodedHeld.size() : file->Size();
    const QSize cells = grid.WholeCells(size);
    const int index = newSheet(tileset.name, tileset.tile);
    Sheet& sheet = sheets_.back();
    sheet.columns = std::max(1, cells.width());
    sheet.count = cells.width() * cells.height();
    // Tiles with data are few; the rest are looked up by their id.
    sheet.info.assign(static_cast<std::size_t>(sheet.count), nullptr);
    for (const auto& [id, tile] : tileset.tiles) {
        if (id >= 0 && id < sheet.count) {
            sheet.info[static_cast<std::size_t>(id)] = &tile;
        }
    }
    into.sheet = index;
    into.sheets.push_back(index);
    Pictures& pictures = pictures_.back();
    pictures.trans = tileset.image.trans;
    pictures.grid = grid;
    pictures.own = sheet.count;
    if (held) {
        pictures.picture = std::move(decodedHeld);
        return;
    }
    pictures.file = std::move(file);
    const std::vector<unsigned char>& bytes = pictures.file->PngBytes();
    if (extrusion_ == 0 && !tileset.image.trans && grid.Margin() == 0 && grid.Spacing() == 0 &&
        size == QSize(cells.width() * tileset.tile.width(), cells.height() * tileset.tile.height()) &&
        PlainPng(bytes.data(), bytes.size(), size.width(), size.height())) {
        // Written as it is: checked now as decoding would, decoded only if a writer needs its tiles.
        pictures.file->Check();
        sheet.whole = tileset.image.source;
    } else {
        picture(index);
    }
}

void ExportSheets::gatherCollection(const TiledTileset& tileset, Gathered& into) {
    std::map<std::pair<int, int>, int> bySize;
    for (const auto& [id, tile] : tileset.tiles) {
        if (tile.image.Empty()) {
            continue;
        }
        QImage picture = decoded(*openPicture(tile.image.source), tile.image.trans);
        inputs_ += tile.image.source;
        const std::pair<int, int> size{picture.width(), picture.height()};
        auto found = bySize.find(size);
        if (found == bySize.end()) {
            found = bySize.emplace(size, newSheet(tileset.name, picture.size())).first;
            into.sheets.push_back(found->second);
        }
        Sheet& sheet = sheets_[static_cast<std::size_t>(found->second)];
        pictures_[static_cast<std::size_t>(found->second)].tiles.push_back(std::move(picture));
        sheet.info.push_back(&tile);
        into.places[id] = {found->second, sheet.count++};
    }
    if (bySize.size() > 1) {
        // One sheet per tile size: each named by its size.
        for (const int index : into.sheets) {
            Sheet& sheet = sheets_[static_cast<std::size_t>(index)];
            sheet.name = QStringLiteral("%1-%2x%3").arg(sheet.name).arg(sheet.tile.width()).arg(sheet.tile.height());
        }
    }
    for (const int index : into.sheets) {
        Sheet& sheet = sheets_[static_cast<std::size_t>(index)];
        sheet.columns = TileGrid(sheet.tile).SquarestColumns(sheet.count);
    }
}

void ExportSheets::Gather(const TiledMap& map) {
    const auto used = usedTilesets(map);
    for (const TilesetRef& ref : map.tilesets) {
        const TiledTileset& tileset = *ref.tileset;
        if (used.count(&tileset) == 0) {
            continue;
        }
        // Maps that share an embedded tileset (an LDtk project's levels) share its sheets too.
        const bool embedded = tileset.file.isEmpty();
        const bool added = embedded ? byObject_.try_emplace(&tileset).second : byFile_.try_emplace(tileset.file).second;
        Gathered& gathered = embedded ? byObject_[&tileset] : byFile_[tileset.file];
        if (added) {
            if (tileset.IsCollection()) {
                gatherCollection(tileset, gathered);
            } else {
                gatherSheet(tileset, map.file, gathered);
            }
        }
        byTileset_[&tileset] = &gathered;
    }
}

ExportSheets::Place ExportSheets::Of(const TiledMap& map, std::uint32_t gid) const {
    const TilesetRef* ref = map.TilesetOf(GidTile(gid));
    if (ref == nullptr) {
        return {};
    }
    const auto gathered = byTileset_.find(ref->tileset.get());
    if (gathered == byTileset_.end()) {
        return {};
    }
    const auto id = static_cast<std::int64_t>(GidTile(gid) - ref->firstGid);
    if (const int sheet = gathered->second->sheet; sheet >= 0) {
        return id < sheets_[static_cast<std::size_t>(sheet)].count ? Place{sheet, static_cast<int>(id)} : Place{};
    }
    const auto place = gathered->second->places.find(static_cast<int>(id));
    return place == gathered->second->places.end() ? Place{} : place->second;
}

std::vector<int> ExportSheets::SheetsOf(const TiledTileset& tileset) const {
    const auto gathered = byTileset_.find(&tileset);
    return gathered == byTileset_.end() ? std::vector<int>{} : gathered->second->sheets;
}

const QImage& ExportSheets::picture(int index) const {
    Pictures& pictures = pictures_[static_cast<std::size_t>(index)];
    if (pictures.file && pictures.picture.isNull()) {
        pictures.picture = decoded(*pictures.file, pictures.trans);
        if (pictures.picture.isNull()) {
            RaiseError(Err::OutOfMemory);
        }
        if (sheets_[static_cast<std::size_t>(index)].whole.isEmpty()) {
            pictures.file.reset();
        }
    }
    return pictures.picture;
}

QImage ExportSheets::view(int index, int k) const {
    const Pictures& pictures = pictures_[static_cast<std::size_t>(index)];
    if (k >= pictures.own) {
        return pictures.tiles[static_cast<std::size_t>(k - pictures.own)];
    }
    const QImage& whole = pictures.picture;
    const int columns = sheets_[static_cast<std::size_t>(index)].columns;
    const QRect cell = pictures.grid.Cell(k % columns, k / columns);
    return QImage(whole.constScanLine(cell.y()) + static_cast<qsizetype>(cell.x()) * 4, cell.width(), cell.height(),
                  whole.bytesPerLine(), QImage::Format_RGBA8888);
}

const QImage& ExportSheets::Tile(int sheet, int index) const {
    Pictures& pictures = pictures_[static_cast<std::size_t>(sheet)];
    if (index >= pictures.own) {
        return pictures.tiles[static_cast<std::size_t>(index - pictures.own)];
    }
    auto found = pictures.cut.find(index);
    if (found == pictures.cut.end()) {
        picture(sheet);
        found = pictures.cut.emplace(index, view(sheet, index).copy()).first;
    }
    return found->second;
}

int ExportSheets::Append(int index, const QImage& tile) {
    picture(index);
    Sheet& sheet = sheets_[static_cast<std::size_t>(index)];
    Pictures& pictures = pictures_[static_cast<std::size_t>(index)];
    pictures.tiles.push_back(tile.convertToFormat(QImage::Format_RGBA8888));
    pictures.file.reset();
    sheet.info.push_back(nullptr);
    sheet.whole.clear();
    return sheet.count++;
}

int ExportSheets::AddSheet(const QString& name, QSize tile) {
    const int index = newSheet(name, tile);
    sheets_[static_cast<std::size_t>(index)].columns = 8;
    return index;
}

TileGrid ExportSheets::Grid(int index) const {
    const TileGrid plain(sheets_[static_cast<std::size_t>(index)].tile);
    return extrusion_ > 0 ? SheetExtruder(plain, extrusion_).ExtrudedGrid() : plain;
}

QSize ExportSheets::SheetSize(int index) const {
    const Sheet& sheet = sheets_[static_cast<std::size_t>(index)];
    const TileGrid plain(sheet.tile);
    const std::int64_t count = std::max(sheet.count, 1);
    const QSize size = SheetBuilder(plain, sheet.columns, count, TileFormat::Png).SheetSize();
    return extrusion_ > 0 && !size.isEmpty() ? SheetExtruder(plain, extrusion_).ExtrudedSize(size) : size;
}

int ExportSheets::Capacity(int index) const {
    const Sheet& sheet = sheets_[static_cast<std::size_t>(index)];
    const int count = std::max(1, sheet.count);
    return (count + sheet.columns - 1) / sheet.columns * sheet.columns;
}

QByteArray ExportSheets::Png(int index) const {
    const Sheet& sheet = sheets_[static_cast<std::size_t>(index)];
    if (!sheet.whole.isEmpty()) {
        // Decoding and encoding again would cost most of an export's time for the same pixels.
        const std::vector<unsigned char>& file = pictures_[static_cast<std::size_t>(index)].file->PngBytes();
        return QByteArray(reinterpret_cast<const char*>(file.data()), static_cast<qsizetype>(file.size()));
    }
    picture(index);
    const TileGrid plain(sheet.tile);
    const std::int64_t count = sheet.count;
    const SheetBuilder builder(plain, sheet.columns, std::max<std::int64_t>(count, 1), TileFormat::Png);
    QImage empty(sheet.tile, QImage::Format_RGBA8888);
    empty.fill(Qt::transparent);
    // Views of the picture: a tile is not copied on its way onto the new sheet.
    QImage drawn = builder.Draw([&](std::int64_t k) {
        const QImage tile = k < count ? view(index, static_cast<int>(k)) : QImage();
        return tile.isNull() ? empty : tile;
    });
    if (extrusion_ > 0) {
        drawn = SheetExtruder(plain, extrusion_).Extrude(drawn);
    }
    return EncodePng(drawn, ChooseFilters(drawn, 0, drawn.height()));
}
