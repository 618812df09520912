#pragma once

#include "maps/maprenderer.h"
#include "tiled/worldfile.h"

#include <QImage>
#include <QStringList>

#include <map>
#include <memory>
#include <vector>

// Draws a world as tmxrasterizer does: the picture spans every map's bounding rectangle
// placed at its position, each map's layers drawn in turn at its position, without the
// maps' background colours, later maps over earlier ones. --size and --scale scale the
// whole; --tilesize is refused (the maps' tiles may differ).
class WorldRenderer {
public:
    // Reads every map once (each refused naming it) to size the picture; a picture past the
    // limits, or maps that cover more than four such pictures together, are refused naming
    // the world before it is allocated.
    WorldRenderer(const TiledWorld& world, MapRenderer::Options options);

    QSize PictureSize() const { return size_; }
    // Every file the picture is drawn from: the world, its maps, their tilesets and images.
    QStringList Reads() const { return reads_; }
    // The whole picture, premultiplied ARGB32; a map placed many times loads its tiles once.
    QImage Draw();
    int LayersDrawn() const { return drawn_; }
    int ShapesDrawn() const { return shapes_; }

private:
    // A map file of the world, read once however often the world places it.
    struct Loaded {
        std::unique_ptr<TiledMap> map;
        std::unique_ptr<MapRenderer> renderer;
        std::size_t last = 0;  // the world's last entry of it: its tiles go after that
    };
    const TiledWorld& world_;
    std::map<QString, Loaded> loaded_;
    std::vector<Loaded*> entries_;  // by the world's entries
    MapRenderer::Options options_;  // each map's: at scale 1, the world scales
    QRect bounds_;                  // the world in its pixels
    double scale_ = 1.0;
    QSize size_;
    QStringList reads_;
    int drawn_ = 0;
    int shapes_ = 0;
};
