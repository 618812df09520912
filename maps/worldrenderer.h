#pragma once

#include "maps/maprenderer.h"
#include "tiled/worldfile.h"

#include <QImage>
#include <QStringList>

// Draws a world as tmxrasterizer does: the picture spans every map's bounding rectangle
// placed at its position, each map's layers drawn in turn at its position, without the
// maps' background colours, later maps over earlier ones. --size and --scale scale the
// whole; --tilesize is refused (the maps' tiles may differ).
class WorldRenderer {
public:
    // Reads every map (each refused naming it) to size the picture; a picture past the
    // limits is refused naming the world before it is allocated.
    WorldRenderer(const TiledWorld& world, MapRenderer::Options options);

    QSize PictureSize() const { return size_; }
    // Every file the picture is drawn from: the world, its maps, their tilesets and images.
    QStringList Reads() const { return reads_; }
    // The whole picture, premultiplied ARGB32; maps are read again one at a time.
    QImage Draw();
    int LayersDrawn() const { return drawn_; }
    int ShapesDrawn() const { return shapes_; }

private:
    const TiledWorld& world_;
    MapRenderer::Options options_;  // each map's: at scale 1, the world scales
    QRect bounds_;                  // the world in its pixels
    double scale_ = 1.0;
    QSize size_;
    QStringList reads_;
    int drawn_ = 0;
    int shapes_ = 0;
};
