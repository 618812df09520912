#include "export/phaserplan.h"

#include "sheets/tileindex.h"

#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>
#include <set>
#include <unordered_set>

namespace {
// Tiled's grid of a map staggered along x, in whole pixels as its hexagonal renderer has it.
struct StaggerX {
    int sideOffset = 0;  // from a cell's left corner to its flat top
    int column = 0;
    int halfRow = 0;
};

StaggerX staggerX(const TiledMap& map) {
    const int side = map.orientation == "hexagonal" ? map.hexSideLength : 0;
    const int offset = (map.tile.width() - side) / 2;
    return {offset, offset + side, map.tile.height() / 2};
}

// Whether an opaque pixel of the picture, drawn from at in its cell, lies on or outside the
// cell's outline, where a neighbour's picture may cover it or be covered.
bool leavesCell(const QImage& picture, QPoint at, const StaggerX& grid) {
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    const double width = grid.column + grid.sideOffset;
    for (int y = 0; y < argb.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(row[x]) == 0) {
                continue;
            }
            const double px = at.x() + x + 0.5;
            const double edge = std::min(px, width - px);
            const double rise = std::abs(at.y() + y + 0.5 - grid.halfRow);
            const bool inside = edge > 0 && rise < grid.halfRow &&
                                (grid.sideOffset == 0 || grid.halfRow * std::min<double>(edge, grid.sideOffset) > grid.sideOffset * rise);
            if (!inside) {
                return true;
            }
        }
    }
    return false;
}
}  // namespace

PhaserPlan::Seen PhaserPlan::seen(const TiledMap& map, const ExportSheets& sheets, std::uint32_t gid, ExportSheets::Place place) {
    Seen s;
    s.place = place;
    const TilesetRef* ref = map.TilesetOf(gid);
    const QPoint offset = ref != nullptr ? ref->tileset->tileOffset : QPoint();
    const QSize tile = sheets.Sheets()[static_cast<std::size_t>(place.sheet)].tile;
    const bool hexagonal = map.orientation == "hexagonal";
    const bool turned = hexagonal && (gid & (GidFlag::Diagonal | GidFlag::Rotated120)) != 0;
    const bool diagonal = !hexagonal && (gid & GidFlag::Diagonal) != 0;
    if (turned) {
        // Turned about its middle, the picture stays within its diagonal.
        s.margin = static_cast<int>(std::ceil((std::hypot(tile.width(), tile.height()) - std::min(tile.width(), tile.height())) / 2));
    }
    const QSize size = diagonal ? tile.transposed() : tile;
    s.picture = QRect(offset.x() - s.margin, map.tile.height() - size.height() + offset.y() - s.margin, size.width() + 2 * s.margin,
                      size.height() + 2 * s.margin);
    s.copied = turned || (diagonal && tile.width() != tile.height());
    return s;
}

PhaserPlan::Copy PhaserPlan::copy(ExportSheets& sheets, std::uint32_t gid, const Seen& s, QPoint pad) {
    const auto key = std::make_tuple(s.place.sheet, s.place.index, gid & GidFlag::All, pad.x(), pad.y());
    if (const auto made = made_.find(key); made != made_.end()) {
        return made->second;
    }
    const QImage tile = sheets.Tile(s.place.sheet, s.place.index).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QSize size = s.picture.size() + QSize(pad.x(), pad.y());
    QImage picture(size, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    if (!tile.isNull()) {
        QPainter painter(&picture);
        if (s.margin > 0) {
            // As the map's renderer turns a hexagonal cell: about the tile's middle.
            const QSizeF t = tile.size();
            painter.translate(pad.x() + s.margin + t.width() / 2, pad.y() + s.margin + t.height() / 2);
            painter.rotate(((gid & GidFlag::Diagonal) != 0 ? 60 : 0) + ((gid & GidFlag::Rotated120) != 0 ? 120 : 0));
            painter.scale((gid & GidFlag::Horizontal) != 0 ? -1 : 1, (gid & GidFlag::Vertical) != 0 ? -1 : 1);
            painter.drawImage(QRectF(QPointF(-t.width() / 2, -t.height() / 2), t), tile, QRectF(QPointF(), t));
        } else {
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.drawImage(pad, OrientedTile(tile, gid));
        }
    }
    const auto sheetKey = std::make_tuple(s.place.sheet, size.width(), size.height());
    auto sheet = sheetOf_.find(sheetKey);
    if (sheet == sheetOf_.end()) {
        sheet = sheetOf_.emplace(sheetKey, sheets.AddSheet(sheets.Sheets()[static_cast<std::size_t>(s.place.sheet)].name + "-placed", size)).first;
    }
    const Copy made{sheet->second, sheets.Append(sheet->second, picture)};
    made_.emplace(key, made);
    return made;
}

void PhaserPlan::Add(const TiledMap& map, ExportSheets& sheets) {
    std::vector<int>& used = copySheets_[&map];
    // Most maps draw every tile from one place and flip only square tiles diagonally: then
    // every layer has that shift and no cell needs a look.
    std::set<std::pair<int, int>> places;
    bool square = true;
    for (const TilesetRef& ref : map.tilesets) {
        for (const int sheet : sheets.SheetsOf(*ref.tileset)) {
            const QSize tile = sheets.Sheets()[static_cast<std::size_t>(sheet)].tile;
            places.emplace(ref.tileset->tileOffset.x(), map.tile.height() - tile.height() + ref.tileset->tileOffset.y());
            square = square && tile.width() == tile.height();
        }
    }
    const bool alongX = (map.orientation == "hexagonal" || map.orientation == "staggered") && map.staggerAxis == "x";
    if (map.orientation != "hexagonal" && !alongX && places.size() <= 1 && square) {
        const QPoint shift = places.empty() ? QPoint() : QPoint(places.begin()->first, places.begin()->second);
        ForEachLayer(map.layers, [&](const TiledLayer& layer) { layers_[&layer] = Layer{shift, {}}; });
        return;
    }
    ForEachLayer(map.layers, [&](const TiledLayer& layer) {
        if (layer.kind != LayerKind::Tiles) {
            return;
        }
        // Each distinct gid once, then in order, so copies come out the same every run.
        std::unordered_set<std::uint32_t> distinct;
        for (const TiledChunk& chunk : layer.chunks) {
            std::uint32_t last = 0;
            for (const std::uint32_t gid : chunk.gids) {
                if (gid != last) {
                    distinct.insert(gid);
                    last = gid;
                }
            }
        }
        std::map<std::uint32_t, Seen> cells;
        for (const std::uint32_t gid : distinct) {
            if (const ExportSheets::Place place = sheets.Of(map, gid); gid != 0 && place.sheet >= 0) {
                cells.emplace(gid, seen(map, sheets, gid, place));
            }
        }
        Layer plan;
        if (!cells.empty()) {
            plan.shift = QPoint(INT_MAX, INT_MAX);
            for (const auto& [gid, s] : cells) {
                plan.shift = QPoint(std::min(plan.shift.x(), s.picture.x()), std::min(plan.shift.y(), s.picture.y()));
            }
        }
        for (const auto& [gid, s] : cells) {
            const QPoint pad = s.picture.topLeft() - plan.shift;
            if (s.copied || !pad.isNull()) {
                const Copy made = copy(sheets, gid, s, pad);
                plan.copies.emplace(gid, made);
                if (std::find(used.begin(), used.end(), made.sheet) == used.end()) {
                    used.push_back(made.sheet);
                }
            }
        }
        if (alongX && !halfRows_.contains(&map)) {
            const StaggerX grid = staggerX(map);
            for (const auto& [gid, s] : cells) {
                const auto copy = plan.copies.find(gid);
                if (copy != plan.copies.end() ? leavesCell(sheets.Tile(copy->second.sheet, copy->second.index), plan.shift, grid)
                                              : leavesCell(OrientedTile(sheets.Tile(s.place.sheet, s.place.index), gid), s.picture.topLeft(), grid)) {
                    halfRows_[&map] = QSize(grid.column, grid.halfRow);
                    break;
                }
            }
        }
        layers_[&layer] = std::move(plan);
    });
}

std::vector<int> PhaserPlan::CopySheets(const TiledMap& map) const {
    const auto found = copySheets_.find(&map);
    return found == copySheets_.end() ? std::vector<int>() : found->second;
}

QSize PhaserPlan::HalfRows(const TiledMap& map) const {
    const auto found = halfRows_.find(&map);
    return found == halfRows_.end() ? QSize() : found->second;
}
