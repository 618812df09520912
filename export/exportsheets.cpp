#include "export/exportsheets.h"

#include "imaging/picturefile.h"
#include "imaging/pngchunks.h"
#include "imaging/pngwriter.h"
#include "runtime/limits.h"
#include "runtime/wholefile.h"
#include "sheets/sheetbuilder.h"
#include "sheets/sheetextruder.h"
#include "tiled/tiledvalues.h"

#include <QFileInfo>
#include <QRegularExpression>

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
    std::set<const TiledTileset*> used;
    ForEachLayer(map.layers, [&](const TiledLayer& layer) {
        const auto add = [&](std::uint32_t gid) {
            if (const TilesetRef* ref = map.TilesetOf(GidTile(gid))) {
                used.insert(ref->tileset.get());
            }
        };
        for (const TiledChunk& chunk : layer.chunks) {
            std::uint32_t last = 0;
            for (const std::uint32_t gid : chunk.gids) {
                if (GidTile(gid) != last) {
                    add(gid);
                    last = GidTile(gid);
                }
            }
        }
        for (const TiledObject& object : layer.objects) {
            add(object.gid);
        }
    });
    return used;
}
}  // namespace

QImage StraightPicture(const QString& path, std::optional<QRgb> trans) {
    if (!QFileInfo(path).isFile()) {
        InvalidMapFile(path, QStringLiteral("the image is missing"));
    }
    QImage image = InTileFormat(LoadPicture(path)).convertToFormat(QImage::Format_RGBA8888);
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
    return static_cast<int>(sheets_.size()) - 1;
}

void ExportSheets::gatherSheet(const TiledTileset& tileset, Gathered& into) {
    const QImage picture = StraightPicture(tileset.image.source, tileset.image.trans);
    inputs_ += tileset.image.source;
    const TileGrid grid(tileset.tile, tileset.margin, tileset.spacing);
    const QSize cells = grid.WholeCells(picture.size());
    const int index = newSheet(tileset.name, tileset.tile);
    Sheet& sheet = sheets_.back();
    sheet.columns = std::max(1, cells.width());
    if (!tileset.image.trans && grid.Margin() == 0 && grid.Spacing() == 0 &&
        picture.size() == QSize(cells.width() * tileset.tile.width(), cells.height() * tileset.tile.height())) {
        sheet.whole = tileset.image.source;
    }
    const int count = cells.width() * cells.height();
    for (int id = 0; id < count; ++id) {
        sheet.tiles.push_back(picture.copy(grid.Cell(id % cells.width(), id / cells.width())));
        const auto tile = tileset.tiles.find(id);
        sheet.info.push_back(tile == tileset.tiles.end() ? nullptr : &tile->second);
        into.places[id] = {index, id};
    }
    into.sheets.push_back(index);
}

void ExportSheets::gatherCollection(const TiledTileset& tileset, Gathered& into) {
    std::map<std::pair<int, int>, int> bySize;
    for (const auto& [id, tile] : tileset.tiles) {
        if (tile.image.Empty()) {
            continue;
        }
        QImage picture = StraightPicture(tile.image.source, tile.image.trans);
        inputs_ += tile.image.source;
        const std::pair<int, int> size{picture.width(), picture.height()};
        auto found = bySize.find(size);
        if (found == bySize.end()) {
            found = bySize.emplace(size, newSheet(tileset.name, picture.size())).first;
            into.sheets.push_back(found->second);
        }
        Sheet& sheet = sheets_[static_cast<std::size_t>(found->second)];
        sheet.tiles.push_back(std::move(picture));
        sheet.info.push_back(&tile);
        into.places[id] = {found->second, static_cast<int>(sheet.tiles.size()) - 1};
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
        sheet.columns = TileGrid(sheet.tile).SquarestColumns(static_cast<std::int64_t>(sheet.tiles.size()));
    }
}

void ExportSheets::Gather(const TiledMap& map) {
    int embedded = 0;
    const auto used = usedTilesets(map);
    for (const TilesetRef& ref : map.tilesets) {
        const TiledTileset& tileset = *ref.tileset;
        const QString key = tileset.file.isEmpty() ? QStringLiteral("%1#%2").arg(map.file).arg(embedded++) : tileset.file;
        if (used.count(&tileset) == 0) {
            continue;
        }
        auto found = byKey_.find(key);
        if (found == byKey_.end()) {
            found = byKey_.emplace(key, Gathered{}).first;
            if (tileset.IsCollection()) {
                gatherCollection(tileset, found->second);
            } else {
                gatherSheet(tileset, found->second);
            }
        }
        byTileset_[&tileset] = &found->second;
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
    const auto place = gathered->second->places.find(static_cast<int>(GidTile(gid) - ref->firstGid));
    return place == gathered->second->places.end() ? Place{} : place->second;
}

std::vector<int> ExportSheets::SheetsOf(const TiledTileset& tileset) const {
    const auto gathered = byTileset_.find(&tileset);
    return gathered == byTileset_.end() ? std::vector<int>{} : gathered->second->sheets;
}

int ExportSheets::Append(int index, const QImage& tile) {
    Sheet& sheet = sheets_[static_cast<std::size_t>(index)];
    sheet.tiles.push_back(tile.convertToFormat(QImage::Format_RGBA8888));
    sheet.info.push_back(nullptr);
    sheet.whole.clear();
    return static_cast<int>(sheet.tiles.size()) - 1;
}

TileGrid ExportSheets::Grid(int index) const {
    const TileGrid plain(sheets_[static_cast<std::size_t>(index)].tile);
    return extrusion_ > 0 ? SheetExtruder(plain, extrusion_).ExtrudedGrid() : plain;
}

QSize ExportSheets::SheetSize(int index) const {
    const Sheet& sheet = sheets_[static_cast<std::size_t>(index)];
    const TileGrid plain(sheet.tile);
    const std::int64_t count = std::max<std::int64_t>(static_cast<std::int64_t>(sheet.tiles.size()), 1);
    const QSize size = SheetBuilder(plain, sheet.columns, count, TileFormat::Png).SheetSize();
    return extrusion_ > 0 && !size.isEmpty() ? SheetExtruder(plain, extrusion_).ExtrudedSize(size) : size;
}

int ExportSheets::Capacity(int index) const {
    const Sheet& sheet = sheets_[static_cast<std::size_t>(index)];
    const int count = std::max(1, static_cast<int>(sheet.tiles.size()));
    return (count + sheet.columns - 1) / sheet.columns * sheet.columns;
}

QByteArray ExportSheets::Png(int index) const {
    const Sheet& sheet = sheets_[static_cast<std::size_t>(index)];
    if (extrusion_ == 0 && !sheet.whole.isEmpty()) {
        // Decoding and encoding again would cost most of an export's time for the same pixels.
        std::vector<unsigned char> file;
        ReadWholeFile(sheet.whole, file);
        const QSize size = SheetSize(index);
        if (PlainPng(file.data(), file.size(), size.width(), size.height())) {
            return QByteArray(reinterpret_cast<const char*>(file.data()), static_cast<qsizetype>(file.size()));
        }
    }
    const TileGrid plain(sheet.tile);
    const std::int64_t count = static_cast<std::int64_t>(sheet.tiles.size());
    const SheetBuilder builder(plain, sheet.columns, std::max<std::int64_t>(count, 1), TileFormat::Png);
    QImage empty(sheet.tile, QImage::Format_RGBA8888);
    empty.fill(Qt::transparent);
    QImage drawn = builder.Draw([&](std::int64_t k) {
        return k < count && !sheet.tiles[static_cast<std::size_t>(k)].isNull() ? sheet.tiles[static_cast<std::size_t>(k)] : empty;
    });
    if (extrusion_ > 0) {
        drawn = SheetExtruder(plain, extrusion_).Extrude(drawn);
    }
    return EncodePng(drawn, ChooseFilters(drawn, 0, drawn.height()));
}
