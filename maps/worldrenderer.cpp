#include "maps/worldrenderer.h"

#include "runtime/limits.h"
#include "runtime/runtimeerror.h"
#include "tiled/tiledfiles.h"
#include "tiled/tiledvalues.h"

#include <algorithm>
#include <climits>

namespace {
// The largest picture, as for one map: 2^28 pixels (1 GiB).
constexpr double MaxPixels = static_cast<double>(Limits::PicturePixels);
// The most pixels the maps of a world cover together, where they overlap: four pictures.
constexpr double MaxCovered = 4 * MaxPixels;

void readsOf(const TiledMap& map, QStringList& reads) {
    auto add = [&](const QString& file) {
        if (!file.isEmpty() && !reads.contains(file)) {
            reads += file;
        }
    };
    add(map.file);
    for (const TilesetRef& ref : map.tilesets) {
        add(ref.tileset->file);
        add(ref.tileset->image.source);
        for (const auto& [id, tile] : ref.tileset->tiles) {
            add(tile.image.source);
        }
    }
    ForEachLayer(map.layers, [&](const TiledLayer& layer) { add(layer.image.source); });
    for (const QString& file : map.templates) {
        add(file);
    }
}

MapRenderer::Options unscaled(MapRenderer::Options options) {
    options.scale = 1.0;
    options.tileSize = 0;
    options.fitSize = 0;
    return options;
}
}  // namespace

WorldRenderer::WorldRenderer(const TiledWorld& world, MapRenderer::Options options) : world_(world), options_(unscaled(options)) {
    if (options.tileSize > 0) {
        InvalidMapFile(world.file, QStringLiteral("--tilesize scales one map's tiles; a world is scaled by --scale or --size"));
    }
    reads_ += world.file;
    // In 64 bits: positions and map sizes are each within int, their sums may not be.
    std::int64_t left = 0, top = 0, right = 0, bottom = 0;
    double covered = 0;
    bool first = true;
    for (std::size_t k = 0; k < world.maps.size(); ++k) {
        const WorldMap& placed = world.maps[k];
        Loaded& loaded = loaded_[placed.file];
        if (!loaded.map) {
            loaded.map = std::make_unique<TiledMap>(LoadMap(placed.file));
            loaded.renderer = std::make_unique<MapRenderer>(*loaded.map, options_);
            readsOf(*loaded.map, reads_);
        }
        loaded.last = k;
        entries_.push_back(&loaded);
        const QRect bounds = loaded.renderer->MapBounds();
        covered += static_cast<double>(bounds.width()) * bounds.height();
        if (covered > MaxCovered) {
            InvalidMapFile(world.file, QStringLiteral("the %1 maps it places cover more than %2 pixels together (overlaps counted "
                                                      "each time), four times the largest picture drawn")
                                           .arg(world.maps.size()).arg(static_cast<std::int64_t>(MaxCovered)));
        }
        const std::int64_t x = std::int64_t{bounds.x()} + placed.position.x(), y = std::int64_t{bounds.y()} + placed.position.y();
        const std::int64_t r = x + bounds.width(), b = y + bounds.height();
        left = first ? x : std::min(left, x);
        top = first ? y : std::min(top, y);
        right = first ? r : std::max(right, r);
        bottom = first ? b : std::max(bottom, b);
        first = false;
    }
    const double width = static_cast<double>(right - left), height = static_cast<double>(bottom - top);
    if (options.fitSize > 0) {
        scale_ = std::min({1.0, options.fitSize / width, options.fitSize / height});
    } else {
        scale_ = options.scale;
    }
    // Whole pixels, cut as tmxrasterizer cuts them.
    const double scaledWidth = width * scale_, scaledHeight = height * scale_;
    if (width > INT_MAX || height > INT_MAX || scaledWidth > Limits::PictureSide || scaledHeight > Limits::PictureSide ||
        scaledWidth * scaledHeight > MaxPixels || static_cast<int>(scaledWidth) < 1 || static_cast<int>(scaledHeight) < 1) {
        InvalidMapFile(world.file, QStringLiteral("the world makes a %1x%2 picture, not from 1 to %3 pixels a side or more than %4 pixels")
                                       .arg(static_cast<std::int64_t>(scaledWidth)).arg(static_cast<std::int64_t>(scaledHeight))
                                       .arg(Limits::PictureSide).arg(static_cast<std::int64_t>(MaxPixels)));
    }
    bounds_ = QRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(width), static_cast<int>(height));
    size_ = QSize(static_cast<int>(scaledWidth), static_cast<int>(scaledHeight));
}

QImage WorldRenderer::Draw() {
    QImage picture(size_, MapRenderer::CanvasFormat(options_, QSizeF(scale_, scale_)));
    if (picture.isNull()) {
        RaiseError(Err::OutOfMemory);
    }
    picture.fill(0u);
    drawn_ = 0;
    shapes_ = 0;
    for (std::size_t k = 0; k < world_.maps.size(); ++k) {
        Loaded& loaded = *entries_[k];
        if (!loaded.renderer) {
            loaded.renderer = std::make_unique<MapRenderer>(*loaded.map, options_);
        }
        loaded.renderer->DrawOnto(picture, bounds_.topLeft() - world_.maps[k].position, QSizeF(scale_, scale_));
        drawn_ += loaded.renderer->LayersDrawn();
        shapes_ += loaded.renderer->ShapesDrawn();
        if (k == loaded.last) {
            loaded.renderer.reset();  // its tiles' pictures are needed no more
        }
    }
    picture.convertTo(QImage::Format_ARGB32_Premultiplied);
    return picture;
}
