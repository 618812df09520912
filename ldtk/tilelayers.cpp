#include "ldtk/tilelayers.h"

#include "imaging/pngwriter.h"
#include "runtime/limits.h"
#include "tiled/tiledvalues.h"

#include <QImage>

#include <algorithm>
#include <map>

namespace {
// All the Tiled tile layers one level may need, in cells: a layer's tiles stacked or at many
// alphas or offsets each take a layer of the map's size.
constexpr std::int64_t MaxMapCells = Limits::LayerCells * 4;

int floorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
}  // namespace

void LevelFailure(const LdtkLevel& level, const LdtkLayer* layer, const QString& reason) {
    const QString where = layer == nullptr ? QStringLiteral("level \"%1\"").arg(level.identifier)
                                           : QStringLiteral("level \"%1\" layer \"%2\"").arg(level.identifier, layer->identifier);
    InvalidMapFile(level.file, where + QStringLiteral(": ") + reason);
}

void TileLayers::Add(const LdtkTile& tile, std::uint32_t gid, int side, const LdtkLevel& level) {
    const int g = map_.tile.width();
    const int columns = map_.size.width(), rows = map_.size.height();
    // Tiled puts a tile's bottom-left corner on its cell's; LDtk its top-left on px.
    const int anchorY = tile.px.y() + side - g;
    const int column = std::clamp(floorDiv(tile.px.x(), g), 0, columns - 1);
    const int row = std::clamp(floorDiv(anchorY, g), 0, rows - 1);
    const QPoint offset(tile.px.x() - column * g, anchorY - row * g);
    const QRect covered = coveredCells(QRect(tile.px, QSize(side, side)));
    int below = -1;
    for (int y = covered.top(); y <= covered.bottom(); ++y) {
        for (int x = covered.left(); x <= covered.right(); ++x) {
            below = std::max(below, top_[index(x, y)]);
        }
    }
    const std::size_t cell = index(column, row);
    std::size_t into = static_cast<std::size_t>(below + 1);
    while (into < layers_.size() && (layers_[into].alpha != tile.alpha || layers_[into].offset != offset || layers_[into].gids[cell] != 0)) {
        ++into;
    }
    if (into == layers_.size()) {
        cells_ += static_cast<std::int64_t>(top_.size());
        if (cells_ > MaxMapCells) {
            LevelFailure(level, &ldtk_, QStringLiteral("its tiles need Tiled layers of more than %1 cells together").arg(MaxMapCells));
        }
        layers_.push_back({tile.alpha, offset, std::vector<std::uint32_t>(top_.size(), 0)});
    }
    layers_[into].gids[cell] = gid | ((tile.flips & 1) != 0 ? GidFlag::Horizontal : 0u) | ((tile.flips & 2) != 0 ? GidFlag::Vertical : 0u);
    for (int y = covered.top(); y <= covered.bottom(); ++y) {
        for (int x = covered.left(); x <= covered.right(); ++x) {
            top_[index(x, y)] = std::max(top_[index(x, y)], static_cast<int>(into));
        }
    }
}

void TileLayers::Into(std::vector<TiledLayer>& layers, int& id) const {
    for (std::size_t k = 0; k < layers_.size(); ++k) {
        TiledLayer layer;
        layer.kind = LayerKind::Tiles;
        layer.id = ++id;
        layer.name = k == 0 ? name_ : QStringLiteral("%1 %2").arg(name_).arg(k + 1);
        layer.visible = visible_;
        layer.opacity = ldtk_.opacity * layers_[k].alpha;
        layer.offset = QPointF(ldtk_.offset + layers_[k].offset);
        layer.size = map_.size;
        layer.encoding = QStringLiteral("csv");
        layer.chunks.push_back({QRect(QPoint(0, 0), map_.size), layers_[k].gids});
        layers.push_back(std::move(layer));
    }
}

QRect TileLayers::coveredCells(const QRect& pixels) const {
    const int g = map_.tile.width();
    const int right = map_.size.width() - 1, bottom = map_.size.height() - 1;
    return QRect(QPoint(std::clamp(floorDiv(pixels.left(), g), 0, right), std::clamp(floorDiv(pixels.top(), g), 0, bottom)),
                 QPoint(std::clamp(floorDiv(pixels.right(), g), 0, right), std::clamp(floorDiv(pixels.bottom(), g), 0, bottom)));
}

void IntGridValues(const LdtkLevel& level, const LdtkLayer& ldtk, TiledMap& map, LevelTilesets& made, std::int64_t& cells, int& id) {
    const int grid = ldtk.grid;
    const std::int64_t count = static_cast<std::int64_t>(ldtk.values.size());
    if (count * grid * grid > Limits::LayerCells) {
        LevelFailure(level, &ldtk, QStringLiteral("%1 IntGrid values of %2 pixels make too large a tileset").arg(count).arg(grid));
    }
    std::map<int, int> index;
    for (int k = 0; k < static_cast<int>(count); ++k) {
        index.emplace(ldtk.values[static_cast<std::size_t>(k)].value, k);
    }
    std::shared_ptr<TiledTileset>& tileset = made.values[ldtk.identifier];
    if (!tileset) {
        tileset = std::make_shared<TiledTileset>();
        tileset->name = ldtk.identifier + QStringLiteral("_values");
        tileset->tile = QSize(grid, grid);
        QImage sheet(static_cast<int>(count) * grid, grid, QImage::Format_RGBA8888);
        for (int k = 0; k < static_cast<int>(count); ++k) {
            const LdtkIntGridValue& value = ldtk.values[static_cast<std::size_t>(k)];
            for (int y = 0; y < grid; ++y) {
                for (int x = 0; x < grid; ++x) {
                    sheet.setPixelColor(k * grid + x, y, value.colour);
                }
            }
            TiledTile tile;
            tile.id = k;
            tile.properties = {{QStringLiteral("value"), QStringLiteral("int"), QString::number(value.value)},
                               {QStringLiteral("identifier"), QString(), value.identifier}};
            tileset->tiles[k] = tile;
        }
        tileset->image.data = EncodePng(sheet, PngFilters::Adaptive);
        tileset->image.size = sheet.size();
        tileset->columns = static_cast<int>(count);
        tileset->tileCount = static_cast<int>(count);
    }
    const std::uint32_t first = map.tilesets.empty() ? 1u
                                                     : map.tilesets.back().firstGid + static_cast<std::uint32_t>(map.tilesets.back().tileset->IdLimit());
    map.tilesets.push_back({first, tileset, false});
    TileLayers split(map, ldtk, ldtk.identifier + QStringLiteral(" values"), false, cells);
    for (std::size_t cell = 0; cell < ldtk.intGrid.size(); ++cell) {
        const int value = ldtk.intGrid[cell];
        if (value == 0) {
            continue;
        }
        const auto found = index.find(value);
        if (found == index.end()) {
            LevelFailure(level, &ldtk, QStringLiteral("IntGrid value %1 is not defined").arg(value));
        }
        const int column = static_cast<int>(cell % static_cast<std::size_t>(ldtk.cells.width()));
        const int row = static_cast<int>(cell / static_cast<std::size_t>(ldtk.cells.width()));
        split.Add({QPoint(column * grid, row * grid), QPoint(), 0, 1.0}, first + static_cast<std::uint32_t>(found->second), grid, level);
    }
    split.Into(map.layers, id);
}
