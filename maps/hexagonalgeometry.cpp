#include "maps/hexagonalgeometry.h"

HexagonalGeometry::HexagonalGeometry(const TiledMap& map, int sideLength)
    : MapGeometry(map),
      hexagonal_(map.orientation == "hexagonal"),
      staggerX_(map.staggerAxis == "x"),
      staggerEven_(map.staggerIndex == "even"),
      tileWidth_(map.tile.width() & ~1),
      tileHeight_(map.tile.height() & ~1) {
    (staggerX_ ? sideLengthX_ : sideLengthY_) = sideLength;
    sideOffsetX_ = (tileWidth_ - sideLengthX_) / 2;
    sideOffsetY_ = (tileHeight_ - sideLengthY_) / 2;
    columnWidth_ = sideOffsetX_ + sideLengthX_;
    rowHeight_ = sideOffsetY_ + sideLengthY_;
}

// The same size whichever rows or columns are shifted.
QRect HexagonalGeometry::Bounds(const QRect& cells) const {
    if (staggerX_) {
        QSize size(cells.width() * columnWidth_ + sideOffsetX_, cells.height() * (tileHeight_ + sideLengthY_));
        if (cells.width() > 1) {
            size.rheight() += rowHeight_;
        }
        return QRect(QPoint(cells.x() * columnWidth_, cells.y() * (tileHeight_ + sideLengthY_)), size);
    }
    QSize size(cells.width() * (tileWidth_ + sideLengthX_), cells.height() * rowHeight_ + sideOffsetY_);
    if (cells.height() > 1) {
        size.rwidth() += columnWidth_;
    }
    return QRect(QPoint(cells.x() * (tileWidth_ + sideLengthX_), cells.y() * rowHeight_), size);
}

QPoint HexagonalGeometry::tileToScreen(int x, int y) const {
    if (staggerX_) {
        return QPoint(x * columnWidth_, y * (tileHeight_ + sideLengthY_) + (shifted(x) ? rowHeight_ : 0));
    }
    return QPoint(x * (tileWidth_ + sideLengthX_) + (shifted(y) ? columnWidth_ : 0), y * rowHeight_);
}

// Tiled walks screen rows top to bottom: with shifted rows each screen row is a row of
// cells; with shifted columns a row of cells is two screen rows, its raised columns first.
void HexagonalGeometry::ForCells(const TiledLayer& layer, const QRect& cells, const QMargins&, double low, double high,
                                 const CellVisit& visit) const {
    const LayerCells lookup(layer);
    const auto place = [&](int x, int y) {
        const std::uint32_t gid = lookup.At(x, y);
        if (GidTile(gid) != 0) {
            visit(PlacedCell{x, y, gid, QPointF(tileToScreen(x, y) + QPoint(0, tileHeight_))});
        }
    };
    for (int y = cells.top(); y <= cells.bottom(); ++y) {
        if (!staggerX_) {
            const double bottom = y * rowHeight_ + tileHeight_;
            if (bottom < low || bottom > high) {
                continue;
            }
            for (int x = cells.left(); x <= cells.right(); ++x) {
                place(x, y);
            }
            continue;
        }
        for (const bool lowered : {false, true}) {
            const double bottom = y * (tileHeight_ + sideLengthY_) + (lowered ? rowHeight_ : 0) + tileHeight_;
            if (bottom < low || bottom > high) {
                continue;
            }
            for (int x = cells.left(); x <= cells.right(); ++x) {
                if (shifted(x) == lowered) {
                    place(x, y);
                }
            }
        }
    }
}
