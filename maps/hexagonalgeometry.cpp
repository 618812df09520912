#include "maps/hexagonalgeometry.h"

#include <QVector2D>

#include <cmath>
#include <limits>

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

// The cell under a point, as Tiled finds where to start walking: the nearest of four
// hexagon centres around a grid-aligned reference cell.
QPoint HexagonalGeometry::screenToTile(double x, double y) const {
    if (staggerX_) {
        x -= staggerEven_ ? tileWidth_ : sideOffsetX_;
    } else {
        y -= staggerEven_ ? tileHeight_ : sideOffsetY_;
    }
    QPoint reference(static_cast<int>(std::floor(x / (columnWidth_ * 2))), static_cast<int>(std::floor(y / (rowHeight_ * 2))));
    const QVector2D rel(static_cast<float>(x - reference.x() * (columnWidth_ * 2)), static_cast<float>(y - reference.y() * (rowHeight_ * 2)));
    int& staggered = staggerX_ ? reference.rx() : reference.ry();
    staggered = staggered * 2 + (staggerEven_ ? 1 : 0);
    QVector2D centres[4];
    if (staggerX_) {
        const int left = sideLengthX_ / 2, centreX = left + columnWidth_, centreY = tileHeight_ / 2;
        centres[0] = QVector2D(left, centreY);
        centres[1] = QVector2D(centreX, centreY - rowHeight_);
        centres[2] = QVector2D(centreX, centreY + rowHeight_);
        centres[3] = QVector2D(centreX + columnWidth_, centreY);
    } else {
        const int top = sideLengthY_ / 2, centreX = tileWidth_ / 2, centreY = top + rowHeight_;
        centres[0] = QVector2D(centreX, top);
        centres[1] = QVector2D(centreX - columnWidth_, centreY);
        centres[2] = QVector2D(centreX + columnWidth_, centreY);
        centres[3] = QVector2D(centreX, centreY + rowHeight_);
    }
    int nearest = 0;
    float least = std::numeric_limits<float>::max();
    for (int i = 0; i < 4; ++i) {
        const float distance = (centres[i] - rel).lengthSquared();
        if (distance < least) {
            least = distance;
            nearest = i;
        }
    }
    static constexpr QPoint stepsX[4] = {QPoint(0, 0), QPoint(1, -1), QPoint(1, 0), QPoint(2, 0)};
    static constexpr QPoint stepsY[4] = {QPoint(0, 0), QPoint(-1, 1), QPoint(0, 1), QPoint(0, 2)};
    return reference + (staggerX_ ? stepsX : stepsY)[nearest];
}

// With shifted columns Tiled steps along a screen row by the tile's width and side length,
// which with an odd side is a pixel more than two columns: where a row starts depends on
// the cell its walk starts from, found from the top-left corner of the area it draws.
void HexagonalGeometry::walkColumns(const LayerCells& lookup, const QRect& cells, const QMargins& margins, double low,
                                    double high, const CellVisit& visit) const {
    QPoint topLeft = tileToScreen(cells.x(), cells.y());
    const int width = cells.width() * columnWidth_ + sideOffsetX_;
    int height = cells.height() * (tileHeight_ + sideLengthY_);
    if (cells.width() > 1) {
        height += rowHeight_;
        if (shifted(cells.x())) {
            topLeft.ry() -= rowHeight_;
        }
    }
    const QRectF exposed = ExposedArea(QRect(topLeft, QSize(width, height)), margins, map_.tile);
    QPoint startTile = screenToTile(exposed.x(), exposed.y());
    QPoint startPos = tileToScreen(startTile.x(), startTile.y());
    if (exposed.y() - startPos.y() < sideOffsetY_) {
        startTile.ry()--;
    }
    if (exposed.x() - startPos.x() < sideOffsetX_) {
        startTile.rx()--;
    }
    startPos = tileToScreen(startTile.x(), startTile.y()) + QPoint(0, tileHeight_);
    bool staggeredRow = shifted(startTile.x());
    // Rows past the layer's last hold no tile: the walk ends there however little it moves down.
    while (startPos.y() - tileHeight_ < exposed.bottom() && startTile.y() <= cells.bottom()) {
        if (startPos.y() >= low && startPos.y() <= high) {
            QPoint tile = startTile;
            for (int x = startPos.x(); x < exposed.right(); x += tileWidth_ + sideLengthX_, tile.rx() += 2) {
                const std::uint32_t gid = lookup.At(tile.x(), tile.y());
                if (GidTile(gid) != 0) {
                    visit(PlacedCell{tile.x(), tile.y(), gid, QPointF(x, startPos.y())});
                }
            }
        }
        if (staggeredRow) {
            startTile += QPoint(-1, 1);
            startPos.rx() -= columnWidth_;
        } else {
            startTile.rx() += 1;
            startPos.rx() += columnWidth_;
        }
        staggeredRow = !staggeredRow;
        startPos.ry() += rowHeight_;
    }
}

// Tiled walks screen rows top to bottom: with shifted rows each screen row is a row of
// cells; with shifted columns a row of cells is two screen rows, its raised columns first.
void HexagonalGeometry::ForCells(const TiledLayer& layer, const QRect& cells, const QMargins& margins, double low, double high,
                                 const CellVisit& visit) const {
    const LayerCells lookup(layer);
    // Tiles 1 pixel high make rows of none (Tiled rounds the height down to even), where
    // Tiled's walk never moves down: such cells are placed one by one.
    if (staggerX_ && rowHeight_ > 0 && (tileWidth_ + sideLengthX_) != 2 * columnWidth_) {
        walkColumns(lookup, cells, margins, low, high, visit);
        return;
    }
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
