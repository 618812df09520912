#include "maps/orthogonalgeometry.h"

#include <algorithm>

QRect OrthogonalGeometry::Bounds(const QRect& cells) const {
    const QSize tile = map_.tile;
    return QRect(cells.x() * tile.width(), cells.y() * tile.height(), cells.width() * tile.width(), cells.height() * tile.height());
}

// Rows in the map's render order, and in each row the chunks it meets.
void OrthogonalGeometry::ForCells(const TiledLayer& layer, const QRect&, const QMargins&, double low, double high,
                                  const CellVisit& visit) const {
    const QString& order = map_.renderOrder;
    const bool up = order.endsWith("up");
    const bool left = order.startsWith("left");
    const int tw = map_.tile.width(), th = map_.tile.height();
    std::vector<const TiledChunk*> chunks;
    for (const TiledChunk& chunk : layer.chunks) {
        chunks.push_back(&chunk);
    }
    std::sort(chunks.begin(), chunks.end(), [&](const TiledChunk* a, const TiledChunk* b) {
        return a->area.y() != b->area.y() ? (a->area.y() < b->area.y()) != up : (a->area.x() < b->area.x()) != left;
    });
    // Chunks of one band of rows are drawn row by row together.
    for (std::size_t band = 0; band < chunks.size();) {
        std::size_t end = band;
        while (end < chunks.size() && chunks[end]->area.top() == chunks[band]->area.top() &&
               chunks[end]->area.height() == chunks[band]->area.height()) {
            ++end;
        }
        const QRect& rows = chunks[band]->area;
        for (int r = 0; r < rows.height(); ++r) {
            const int y = up ? rows.bottom() - r : rows.top() + r;
            // A band is drawn from the few rows that reach it, not the whole layer.
            const double bottom = static_cast<double>(y + 1) * th;
            if (bottom < low || bottom > high) {
                continue;
            }
            for (std::size_t c = band; c < end; ++c) {
                const TiledChunk& chunk = *chunks[c];
                const std::uint32_t* row = chunk.gids.data() + static_cast<std::size_t>(y - chunk.area.y()) * static_cast<std::size_t>(chunk.area.width());
                for (int i = 0; i < chunk.area.width(); ++i) {
                    const int x = left ? chunk.area.width() - 1 - i : i;
                    if (GidTile(row[x]) != 0) {
                        const int cx = chunk.area.x() + x;
                        visit(PlacedCell{cx, y, row[x], QPointF(cx * tw, (y + 1) * th)});
                    }
                }
            }
        }
        band = end;
    }
}
