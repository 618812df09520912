#include "maps/maprenderer.h"

#include <algorithm>

#include "imaging/picture.h"
#include "runtime/limits.h"
#include "runtime/runtimeerror.h"
#include "maps/blendmode.h"
#include "maps/mapgeometry.h"
#include "maps/objectpainter.h"
#include "maps/tileanimation.h"
#include "maps/tileimages.h"
#include "maps/tileblend.h"
#include "maps/tilepainter.h"
#include "maps/tileplacements.h"
#include "sheets/tileindex.h"
#include "tiled/tiledvalues.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {
// Largest picture drawn: a side of the canvas limit and 2^28 pixels (1 GiB).
constexpr std::int64_t MaxPixels = Limits::PicturePixels;

// A layer as it is drawn: what its groups give it.
struct Drawn {
    const TiledLayer* layer;
    double opacity;
    QPointF offset;
    QColor tint;
    bool hidden;
    bool chosen;
};

QColor multiplied(const QColor& a, const QColor& b) {
    return QColor::fromRgbF(a.redF() * b.redF(), a.greenF() * b.greenF(), a.blueF() * b.blueF(), a.alphaF() * b.alphaF());
}

void flatten(const std::vector<TiledLayer>& layers, const Drawn& parent, const MapRenderer::Options& options, std::vector<Drawn>& out) {
    for (const TiledLayer& layer : layers) {
        Drawn drawn{&layer,
                    parent.opacity * layer.opacity,
                    parent.offset + layer.offset,
                    layer.tint ? multiplied(*layer.tint, parent.tint) : parent.tint,
                    parent.hidden || !layer.visible,
                    (parent.chosen || options.layers.contains(layer.name, Qt::CaseInsensitive)) &&
                        !options.hide.contains(layer.name, Qt::CaseInsensitive)};
        if (layer.kind == LayerKind::Group) {
            flatten(layer.layers, drawn, options, out);
        } else {
            out.push_back(drawn);
        }
    }
}

std::vector<Drawn> layersOf(const TiledMap& map, const MapRenderer::Options& options) {
    std::vector<Drawn> all;
    flatten(map.layers, Drawn{nullptr, 1.0, QPointF(), QColor(255, 255, 255, 255), false, options.layers.isEmpty()}, options, all);
    return all;
}

// The cells an infinite layer covers, in 16-cell blocks as Tiled grows a layer's bounds.
QRect tileBounds(const TiledLayer& layer) {
    QRect bounds;
    for (const TiledChunk& chunk : layer.chunks) {
        for (int k = 0; k < static_cast<int>(chunk.gids.size()); ++k) {
            if (GidTile(chunk.gids[static_cast<std::size_t>(k)]) != 0) {
                const int x = chunk.area.x() + k % chunk.area.width();
                const int y = chunk.area.y() + k / chunk.area.width();
                bounds |= QRect(x & ~15, y & ~15, 16, 16);
            }
        }
    }
    return bounds;
}

// How far a layer's tiles reach past their cells, as Tiled's tile layer gives it: the
// largest tile of the tilesets it uses on the top and right, their offsets on every side.
QMargins drawMargins(const TiledMap& map, const TiledLayer& layer) {
    std::vector<const TiledTileset*> used;
    ForEachPlacedGid(layer, [&](std::uint32_t gid) {
        const TilesetRef* ref = layer.kind == LayerKind::Tiles ? map.TilesetOf(GidTile(gid)) : nullptr;
        if (ref != nullptr && std::find(used.begin(), used.end(), ref->tileset.get()) == used.end()) {
            used.push_back(ref->tileset.get());
        }
    });
    int largest = 0;
    QMargins offsets;
    for (const TiledTileset* tileset : used) {
        largest = std::max({largest, tileset->tile.width(), tileset->tile.height()});
        for (const auto& [id, tile] : tileset->tiles) {
            largest = std::max({largest, tile.image.size.width(), tile.image.size.height()});
        }
        const QPoint o = tileset->tileOffset;
        offsets = QMargins(std::max(offsets.left(), -o.x()), std::max(offsets.top(), -o.y()), std::max(offsets.right(), o.x()),
                           std::max(offsets.bottom(), o.y()));
    }
    return QMargins(offsets.left(), offsets.top() + largest, offsets.right() + largest, offsets.bottom());
}

bool whole(QPointF point) {
    return static_cast<double>(static_cast<std::int64_t>(point.x())) == point.x() &&
           static_cast<double>(static_cast<std::int64_t>(point.y())) == point.y();
}

// The shown layers drawn into the band, whose top row is map row bandTop.
void drawLayers(const TiledMap& map_, const MapGeometry& geometry, QImage& band, QPoint corner, int top, QSizeF scale,
                const MapRenderer::Options& options, const std::vector<const Drawn*>& shown, TileImages& tiles, TilePlacements& placements,
                TileFrames& frames, const std::vector<QImage>& layerImages, const std::vector<QMargins>& margins, const QRectF& visible, double reach) {
    QPainter painter(&band);
    PremultipliedCanvas canvas(band);  // after the painter, which may have detached the band
    painter.setRenderHint(QPainter::Antialiasing, options.antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, options.smoothing);
    // Map rows the band shows: a tile wholly above or below is not drawn at all.
    const double bandTop = corner.y() + top / scale.height();
    const double bandBottom = corner.y() + (top + band.height()) / scale.height();
    const bool centred = scale != QSizeF(1, 1) || options.antialiasing || options.smoothing;
    if (scale == QSizeF(1, 1)) {
        painter.translate(-corner.x(), -(corner.y() + top));
    } else {
        painter.translate(0, -top);
        painter.scale(scale.width(), scale.height());
        painter.translate(-corner);
    }
    for (std::size_t k = 0; k < shown.size(); ++k) {
        const Drawn& drawn = *shown[k];
        const TiledLayer& layer = *drawn.layer;
        painter.save();
        painter.setOpacity(drawn.opacity);
        painter.translate(drawn.offset);
        painter.setCompositionMode(LayerComposition(layer.mode));
        const QRgb tint = drawn.tint.rgba();
        // Tiles at whole pixels, unscaled and laid over plainly, are blended into the band
        // directly, as the painter would blend them.
        const bool direct = !centred && LayerComposition(layer.mode) == QPainter::CompositionMode_SourceOver &&
                            drawn.offset == QPointF(drawn.offset.toPoint()) && band.format() == QImage::Format_ARGB32_Premultiplied;
        const QPoint shift = drawn.offset.toPoint() - QPoint(corner.x(), corner.y() + top);
        if (layer.kind == LayerKind::Tiles) {
            const QRect cells = map_.infinite ? tileBounds(layer) : QRect(QPoint(0, 0), map_.size);
            const double low = bandTop - drawn.offset.y() - reach, high = bandBottom - drawn.offset.y() + reach;
            geometry.ForCells(layer, cells, margins[k], low, high, [&](const PlacedCell& cell) {
                const std::uint32_t gid = frames(cell.gid);
                // Hexagonal cells turn about their centre where other cells flip diagonally.
                const std::uint32_t turns = geometry.HexagonalCells() ? gid & (GidFlag::Diagonal | GidFlag::Rotated120) : 0u;
                if (direct && turns == 0) {
                    const TilePlacements::Placement& place = placements.Of(gid, tint);
                    if (place.image == nullptr) {
                        return;
                    }
                    // At whole pixels the sum is exact, so the tile lands where TileTarget puts it.
                    if (place.blendable && whole(cell.bottomLeft) && whole(place.offset)) {
                        canvas.Blend(place.pixels, (cell.bottomLeft + place.offset).toPoint() + shift, drawn.opacity, place.opaque);
                        return;
                    }
                }
                // Scaled, smoothed, anti-aliased or turned, a tile is drawn as Tiled's cell renderer draws it.
                const bool painted = centred || turns != 0;
                const QImage& image = painted ? tiles.Plain(gid, tint) : tiles.Oriented(gid, tint);
                if (image.isNull()) {
                    return;
                }
                const TiledTileset& tileset = *map_.TilesetOf(gid)->tileset;
                const bool diagonal = (gid & GidFlag::Diagonal) != 0 && turns == 0;
                const QSizeF picture = diagonal && !painted ? image.size().transposed() : image.size();
                if (turns == 0) {
                    const QRectF target = TileTarget(tileset, picture, map_.tile, cell.bottomLeft, diagonal);
                    const double shownTop = target.top() + drawn.offset.y();
                    if (shownTop >= bandBottom || shownTop + target.height() <= bandTop) {
                        return;
                    }
                    if (!painted && whole(target.topLeft())) {
                        PaintTile(painter, image, target);
                        return;
                    }
                    if (!painted) {
                        // At half pixels, a tile is drawn about its centre as Tiled draws it.
                        const QSizeF size = target.size();
                        painter.save();
                        painter.translate(target.center());
                        painter.drawImage(QRectF(QPointF(-size.width() / 2, -size.height() / 2), size), image, QRectF(QPointF(), image.size()));
                        painter.restore();
                        return;
                    }
                }
                const QSizeF box = tileset.renderAtGridSize ? QSizeF(map_.tile) : picture;
                PaintCell(painter, image, tileset, cell.bottomLeft - QPointF(0, box.height()), box, gid, geometry.HexagonalCells());
            });
        } else if (layer.kind == LayerKind::Image && !layerImages[k].isNull()) {
            QRectF bounds(QPointF(), layerImages[k].size());
            const QRectF around = visible.translated(-drawn.offset);
            if (layer.repeatX) {
                bounds.setLeft(around.left() - bounds.width());
                bounds.setRight(around.right() + bounds.width());
            }
            if (layer.repeatY) {
                bounds.setTop(around.top() - bounds.height());
                bounds.setBottom(around.bottom() + bounds.height());
            }
            painter.setBrush(QBrush(layerImages[k]));
            painter.setPen(Qt::NoPen);
            painter.drawRect(bounds);
        } else if (layer.kind == LayerKind::Objects) {
            ObjectPainter(map_, geometry, tiles, frames).DrawLayer(painter, layer, drawn.opacity, tint);
        }
        painter.restore();
    }
    painter.end();
}
// What every band needs: the shown layers and their pictures, loaded before any canvas is made.
struct Prepared {
    std::vector<Drawn> layers;
    std::vector<const Drawn*> shown;
    TileImages tiles;
    TilePlacements placements;
    TileFrames frames;
    std::vector<QImage> layerImages;
    std::vector<QMargins> margins;  // of each shown tile layer, walked for every band
    double reach = 0;
    bool wholeBands = false;
    Prepared(const TiledMap& map, const MapRenderer::Options& options) : tiles(map), placements(map, tiles), frames(map, options.animationTime) {}
};

std::unique_ptr<Prepared> prepare(const TiledMap& map_, const MapRenderer::Options& options_, const MapGeometry& geometry,
                                  const std::vector<std::uint32_t>& placed, int& drawn_, int& shapes_,
                                  std::int64_t& tilesDrawn_) {
    auto p = std::make_unique<Prepared>(map_, options_);
    p->layers = layersOf(map_, options_);
    for (const Drawn& drawn : p->layers) {
        if (drawn.chosen && (options_.hidden || !drawn.hidden)) {
            p->shown.push_back(&drawn);
        }
    }
    // Every picture first: a missing one is refused before the canvas is made.
    // A tile needs its picture whatever its flips: each is looked for once (where tile numbers are small).
    std::vector<bool> needed;
    for (const std::uint32_t gid : placed) {
        const std::uint32_t shown = p->frames(gid);
        const std::uint32_t tile = GidTile(shown);
        if (tile < (1u << 22)) {
            if (tile >= needed.size()) {
                needed.resize(std::max<std::size_t>(tile + 1, 2 * needed.size()));
            }
            if (needed[tile]) {
                continue;
            }
            needed[tile] = true;
        }
        p->tiles.Need(shown);
    }
    p->tiles.Load();
    p->layerImages.resize(p->shown.size());
    p->margins.resize(p->shown.size());
    for (std::size_t k = 0; k < p->shown.size(); ++k) {
        const TiledLayer& layer = *p->shown[k]->layer;
        if (layer.kind == LayerKind::Tiles) {
            p->margins[k] = drawMargins(map_, layer);
        }
        if (layer.kind == LayerKind::Image && !layer.image.Empty()) {
            p->layerImages[k] = Tinted(TiledPicture(layer.image, map_.file), p->shown[k]->tint.rgba());
        }
    }
    drawn_ = static_cast<int>(p->shown.size());
    shapes_ = 0;
    tilesDrawn_ = 0;
    for (const Drawn* drawn : p->shown) {
        for (const TiledChunk& chunk : drawn->layer->chunks) {
            tilesDrawn_ += std::count_if(chunk.gids.begin(), chunk.gids.end(), [](std::uint32_t gid) { return GidTile(gid) != 0; });
        }
        for (const TiledObject& object : drawn->layer->objects) {
            shapes_ += object.visible && (object.kind == ObjectKind::Shape || object.kind == ObjectKind::Text) ? 1 : 0;
            tilesDrawn_ += object.visible && object.kind == ObjectKind::Tile ? 1 : 0;
        }
    }
    // How far past a cell's bottom its tile can show: turned, offset or larger than the grid.
    p->reach = std::max(map_.tile.width(), map_.tile.height());
    for (const TilesetRef& ref : map_.tilesets) {
        const TiledTileset& tileset = *ref.tileset;
        double largest = std::max(tileset.tile.width(), tileset.tile.height());
        for (const auto& [id, tile] : tileset.tiles) {
            largest = std::max({largest, static_cast<double>(tile.image.size.width()), static_cast<double>(tile.image.size.height())});
        }
        largest = std::max(largest, static_cast<double>(p->tiles.LargestSide()));
        p->reach = std::max(p->reach, 2 * largest + std::abs(tileset.tileOffset.x()) + std::abs(tileset.tileOffset.y()));
    }
    // Qt samples a tile object placed at a fraction of a pixel, scaled or turned, by the
    // canvas's origin: a map with tile objects is drawn in one band, as it always was.
    for (const Drawn* drawn : p->shown) {
        for (const TiledObject& object : drawn->layer->objects) {
            p->wholeBands = p->wholeBands || (object.visible && object.kind == ObjectKind::Tile);
        }
    }
    // Scaled tiles and hexagonal cells turned by 60 degrees are sampled by the canvas's origin too.
    for (const Drawn* drawn : p->shown) {
        for (const TiledChunk& chunk : drawn->layer->chunks) {
            p->wholeBands = p->wholeBands || (geometry.HexagonalCells() &&
                                              std::any_of(chunk.gids.begin(), chunk.gids.end(), [](std::uint32_t gid) {
                                                  return (gid & (GidFlag::Diagonal | GidFlag::Rotated120)) != 0;
                                              }));
        }
    }
    return p;
}

}  // namespace

struct MapRenderer::Kept {
    std::unique_ptr<Prepared> prepared;
};

MapRenderer::~MapRenderer() = default;

MapRenderer::MapRenderer(const TiledMap& map, Options options) : map_(map), options_(std::move(options)) {
    geometry_ = MapGeometry::Of(map);
    QRect cells(QPoint(0, 0), map.size);
    if (map.infinite) {
        cells = QRect();
        ForEachLayer(map.layers, [&](const TiledLayer& layer) {
            if (layer.kind == LayerKind::Tiles) {
                cells |= tileBounds(layer);
            }
        });
        if (cells.isEmpty()) {
            cells = QRect(0, 0, 1, 1);
        }
    }
    // The layers' offsets widen the picture on the side they point away from, as Tiled does.
    double margin[4] = {0, 0, 0, 0};
    for (const Drawn& drawn : layersOf(map, Options{})) {
        margin[0] = std::max(margin[0], std::ceil(-drawn.offset.x()));
        margin[1] = std::max(margin[1], std::ceil(-drawn.offset.y()));
        margin[2] = std::max(margin[2], std::ceil(drawn.offset.x()));
        margin[3] = std::max(margin[3], std::ceil(drawn.offset.y()));
    }
    // Tiled's bounds are ints: a map past them is refused before they overflow.
    const double cellPixels = (static_cast<double>(cells.width()) + cells.height()) * std::max(map.tile.width(), map.tile.height()) * 2.0 +
                              std::abs(static_cast<double>(map.skewX)) * cells.height() + std::abs(static_cast<double>(map.skewY)) * cells.width();
    if (cellPixels > Limits::PictureSide * 4.0) {
        InvalidMapFile(map.file, QStringLiteral("the map makes a picture of more than %1 pixels a side").arg(Limits::PictureSide));
    }
    const QRect bounds = geometry_->Bounds(cells);
    const double left = bounds.x() - margin[0];
    const double top = bounds.y() - margin[1];
    const double width = bounds.width() + margin[0] + margin[2];
    const double height = bounds.height() + margin[1] + margin[3];
    const bool unscaled = options_.scale == 1.0 && options_.tileSize == 0 && options_.fitSize == 0;
    if (unscaled && (width > Limits::PictureSide || height > Limits::PictureSide || width * height > static_cast<double>(MaxPixels))) {
        InvalidMapFile(map.file, QStringLiteral("the map makes a %1x%2 picture, more than %3 pixels a side or %4 pixels")
                                     .arg(width).arg(height).arg(Limits::PictureSide).arg(MaxPixels));
    }
    bounds_ = bounds;
    area_ = QRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(width), static_cast<int>(height));
    if (options_.fitSize > 0) {
        scaleX_ = scaleY_ = std::min({1.0, static_cast<double>(options_.fitSize) / bounds.width(),
                                      static_cast<double>(options_.fitSize) / bounds.height()});
    } else if (options_.tileSize > 0) {
        scaleX_ = static_cast<double>(options_.tileSize) / map.tile.width();
        scaleY_ = static_cast<double>(options_.tileSize) / map.tile.height();
    } else {
        scaleX_ = scaleY_ = options_.scale;
    }
    // Whole pixels, cut as tmxrasterizer cuts them.
    const double scaledWidth = width * scaleX_, scaledHeight = height * scaleY_;
    if (scaledWidth > Limits::PictureSide || scaledHeight > Limits::PictureSide || scaledWidth * scaledHeight > static_cast<double>(MaxPixels) ||
        static_cast<int>(scaledWidth) < 1 || static_cast<int>(scaledHeight) < 1) {
        InvalidMapFile(map.file, QStringLiteral("the map makes a %1x%2 picture at this scale, not from 1 to %3 pixels a side or more than %4 pixels")
                                     .arg(static_cast<std::int64_t>(scaledWidth)).arg(static_cast<std::int64_t>(scaledHeight))
                                     .arg(Limits::PictureSide).arg(MaxPixels));
    }
    size_ = QSize(static_cast<int>(scaledWidth), static_cast<int>(scaledHeight));
}

QImage MapRenderer::Draw() {
    QImage whole;
    DrawBands(size_.height(), [&](const QImage& band, int) { whole = band; });
    return whole;
}

void MapRenderer::DrawBands(int bandRows, const std::function<void(const QImage& band, int top)>& put) {
    const std::unique_ptr<Prepared> p = prepare(map_, options_, *geometry_, PlacedGids(), drawn_, shapes_, tilesDrawn_);
    const QRectF visible(area_);
    if (p->wholeBands || scaleX_ != 1.0 || scaleY_ != 1.0) {
        bandRows = std::max(1, size_.height());
    }
    // A band's memory again where nobody holds it still (a writer may, until it is written).
    QImage band;
    const QImage::Format format = CanvasFormat(options_, QSizeF(scaleX_, scaleY_));
    for (int top = 0; top < size_.height(); top += bandRows) {
        const int rows = std::min(bandRows, size_.height() - top);
        if (band.height() != rows || !band.isDetached() || band.format() != format) {
            band = QImage(size_.width(), rows, format);
        }
        if (band.isNull()) {
            RaiseError(Err::OutOfMemory);
        }
        band.fill(map_.background.value_or(QColor(Qt::transparent)));
        drawLayers(map_, *geometry_, band, area_.topLeft(), top, QSizeF(scaleX_, scaleY_), options_, p->shown, p->tiles, p->placements, p->frames,
                   p->layerImages, p->margins, visible, p->reach);
        band.convertTo(QImage::Format_ARGB32_Premultiplied);
        put(band, top);
    }
}

void MapRenderer::DrawOnto(QImage& picture, QPoint corner, QSizeF scale) {
    if (!kept_) {
        kept_ = std::make_unique<Kept>(Kept{prepare(map_, options_, *geometry_, PlacedGids(), drawn_, shapes_, tilesDrawn_)});
    }
    Prepared* p = kept_->prepared.get();
    const QRectF visible(QPointF(corner), QSizeF(picture.width() / scale.width(), picture.height() / scale.height()));
    drawLayers(map_, *geometry_, picture, corner, 0, scale, options_, p->shown, p->tiles, p->placements, p->frames, p->layerImages, p->margins, visible, p->reach);
}

QImage::Format MapRenderer::CanvasFormat(const Options& options, QSizeF scale) {
    return scale != QSizeF(1, 1) || options.antialiasing || options.smoothing ? QImage::Format_ARGB32 : QImage::Format_ARGB32_Premultiplied;
}

std::vector<std::uint32_t> MapRenderer::PlacedGids() const {
    std::vector<std::uint32_t> gids;
    for (const Drawn& drawn : layersOf(map_, options_)) {
        if (!drawn.chosen || (!options_.hidden && drawn.hidden)) {
            continue;
        }
        for (const TiledChunk& chunk : drawn.layer->chunks) {
            std::uint32_t last = 0;
            for (const std::uint32_t gid : chunk.gids) {
                if (gid != last) {
                    gids.push_back(gid);
                    last = gid;
                }
            }
        }
        for (const TiledObject& object : drawn.layer->objects) {
            gids.push_back(object.gid);
        }
    }
    return gids;
}
