#include "maps/mapgeometry.h"

#include "maps/hexagonalgeometry.h"
#include "maps/isometricgeometry.h"
#include "maps/obliquegeometry.h"
#include "maps/orthogonalgeometry.h"
#include "maps/staggeredgeometry.h"
#include "tiled/tiledvalues.h"

namespace {
int floorDiv(int a, int b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

std::uint64_t key(int column, int row) {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(column)) << 32 | static_cast<std::uint32_t>(row);
}
}  // namespace

LayerCells::LayerCells(const TiledLayer& layer) : layer_(layer) {
    if (layer.chunks.empty()) {
        return;
    }
    step_ = layer.chunks.front().area.size();
    for (const TiledChunk& chunk : layer.chunks) {
        if (chunk.area.size() != step_ || chunk.area.x() % step_.width() != 0 || chunk.area.y() % step_.height() != 0) {
            step_ = QSize();
        }
    }
    if (step_.isEmpty()) {
        return;
    }
    for (const TiledChunk& chunk : layer.chunks) {
        chunks_[key(chunk.area.x() / step_.width(), chunk.area.y() / step_.height())] = &chunk;
    }
}

std::uint32_t LayerCells::At(int x, int y) const {
    const TiledChunk* found = nullptr;
    if (!step_.isEmpty()) {
        const auto it = chunks_.find(key(floorDiv(x, step_.width()), floorDiv(y, step_.height())));
        found = it == chunks_.end() ? nullptr : it->second;
    } else {
        for (const TiledChunk& chunk : layer_.chunks) {
            if (chunk.area.contains(x, y)) {
                found = &chunk;
                break;
            }
        }
    }
    if (found == nullptr || !found->area.contains(x, y)) {
        return 0;
    }
    return found->gids[static_cast<std::size_t>(y - found->area.y()) * static_cast<std::size_t>(found->area.width()) +
                       static_cast<std::size_t>(x - found->area.x())];
}

std::unique_ptr<MapGeometry> MapGeometry::Of(const TiledMap& map) {
    if (map.orientation == "orthogonal") {
        return std::make_unique<OrthogonalGeometry>(map);
    }
    if (map.orientation == "isometric") {
        return std::make_unique<IsometricGeometry>(map);
    }
    if (map.orientation == "staggered") {
        return std::make_unique<StaggeredGeometry>(map);
    }
    if (map.orientation == "hexagonal") {
        return std::make_unique<HexagonalGeometry>(map);
    }
    if (map.orientation == "oblique") {
        return std::make_unique<ObliqueGeometry>(map);
    }
    InvalidMapFile(map.file, QStringLiteral("the orientation \"%1\" is not one Tiled draws (orthogonal, isometric, staggered, "
                                            "hexagonal, oblique)").arg(map.orientation.left(20)));
}

QRectF ExposedArea(const QRect& bounds, const QMargins& margins, QSize tile) {
    // The grid's own cell is already in the bounds.
    const int top = margins.top() - tile.height();
    const int right = margins.right() - tile.width();
    return QRectF(bounds.adjusted(-right, -margins.bottom(), margins.left(), top));
}
