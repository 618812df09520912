#include "export/phaserturns.h"

#include <QPainter>

void AddPhaserTurns(const TiledMap& map, ExportSheets& sheets, PhaserTurns& turns) {
    if (map.orientation != "hexagonal") {
        return;
    }
    ForEachLayer(map.layers, [&](const TiledLayer& layer) {
        sheets.ForEachPlaced(map, layer, [&](QPoint, std::uint32_t gid, ExportSheets::Place place) {
            const std::uint32_t turn = gid & (GidFlag::Diagonal | GidFlag::Rotated120);
            const std::tuple<int, int, std::uint32_t> key{place.sheet, place.index, gid & GidFlag::All};
            if (turn == 0 || turns.count(key) != 0) {
                return;
            }
            const QImage tile = sheets.Tile(place.sheet, place.index).convertToFormat(QImage::Format_ARGB32_Premultiplied);
            if (tile.isNull()) {
                return;
            }
            QImage copy(tile.size(), QImage::Format_ARGB32_Premultiplied);
            copy.fill(Qt::transparent);
            {
                // As the map's renderer turns a hexagonal cell, clipped to the tile's own size.
                QPainter painter(&copy);
                const QSizeF size = tile.size();
                painter.translate(size.width() / 2, size.height() / 2);
                painter.rotate(((turn & GidFlag::Diagonal) != 0 ? 60 : 0) + ((turn & GidFlag::Rotated120) != 0 ? 120 : 0));
                painter.scale((gid & GidFlag::Horizontal) != 0 ? -1 : 1, (gid & GidFlag::Vertical) != 0 ? -1 : 1);
                painter.drawImage(QRectF(QPointF(-size.width() / 2, -size.height() / 2), size), tile, QRectF(QPointF(), size));
            }
            turns.emplace(key, sheets.Append(place.sheet, copy));
        });
    });
}
