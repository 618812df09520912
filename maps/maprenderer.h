#pragma once

#include "maps/mapgeometry.h"
#include "tiled/tiledmodel.h"

#include <QImage>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

// Draws a map as Tiled's own renderer does (tmxrasterizer at scale 1, no smoothing) over
// the geometry of its orientation: layers in order, groups multiply opacity and tint and add offsets, tiles
// bottom-left aligned in their cell with their tileset's offset, flips applied to the tile,
// tile objects anchored by their tileset's alignment, scaled to their size and rotated
// about their position; shapes and text as Tiled draws them (see ObjectPainter).
class MapRenderer {
public:
    struct Options {
        bool hidden = false;  // draw layers that are not visible too
        QStringList layers;   // only these layers (or the layers of these groups); all when empty
        std::int64_t animationTime = 0;  // ms since the map started: animated tiles show their frame of then
        QStringList hide;     // not these layers (nor the layers of these groups)
        // The picture's scale as tmxrasterizer takes it: fitSize (the map fits a square of
        // that side, never enlarged) over tileSize (a cell's width and height) over scale.
        double scale = 1.0;
        int tileSize = 0;
        int fitSize = 0;
        bool antialiasing = false;
        bool smoothing = false;
    };

    // Refuses a map of an orientation Tiled does not have, or whose picture passes the
    // limits, with 481.
    MapRenderer(const TiledMap& map, Options options);
    ~MapRenderer();

    // The picture's size: the map's cells (the chunks' bounds for an infinite one) as its
    // orientation lays them out, grown by the layers' offsets, then scaled.
    QSize PictureSize() const { return size_; }
    // The map drawn onto its background colour (transparent where it has none):
    // premultiplied ARGB32. Tileset and layer images that are missing give 481 naming them,
    // before the picture is allocated.
    QImage Draw();
    // The same a band of bandRows rows at a time, top to bottom: put(band, top) is given
    // each band, so memory does not grow with the map. The bands share one memory: a copy
    // of one that put keeps is copied when the next is drawn (Qt copies on write).
    void DrawBands(int bandRows, const std::function<void(const QImage& band, int top)>& put);
    // The map's cells on the picture before layer offsets and scale (Tiled's map bounding
    // rectangle), by which a world places and sizes its maps.
    QRect MapBounds() const { return bounds_; }
    // The shown layers drawn onto a picture whose top-left pixel is the map's point corner,
    // at this scale, without the map's background (as Tiled draws the maps of a world). The
    // tiles' pictures are loaded by the first call and kept for the next (a world may place
    // the map many times).
    void DrawOnto(QImage& picture, QPoint corner, QSizeF scale);
    // The picture DrawOnto draws scaled, smoothed or anti-aliased maps best onto: ARGB32 as
    // tmxrasterizer's canvas, on which Qt's raster engine samples scaled pictures as it does
    // for Tiled (on a premultiplied one it takes a faster scaler that picks other pixels);
    // premultiplied ARGB32 where tiles are laid at whole pixels.
    static QImage::Format CanvasFormat(const Options& options, QSizeF scale);
    // Shape and text objects (not tiles) of the drawn layers.
    int ShapesDrawn() const { return shapes_; }
    // Every gid the drawn layers place (cells and tile objects), a run of one given once.
    std::vector<std::uint32_t> PlacedGids() const;
    int LayersDrawn() const { return drawn_; }
    // Cells and tile objects the drawn layers place.
    std::int64_t TilesDrawn() const { return tilesDrawn_; }

private:
    struct Kept;
    const TiledMap& map_;
    Options options_;
    std::unique_ptr<MapGeometry> geometry_;
    QRect bounds_;
    QRect area_;  // the picture in map pixels
    double scaleX_ = 1.0, scaleY_ = 1.0;
    QSize size_;  // the picture in its own pixels
    int shapes_ = 0;
    int drawn_ = 0;
    std::int64_t tilesDrawn_ = 0;
    std::unique_ptr<Kept> kept_;  // what DrawOnto prepared
};
