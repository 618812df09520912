#pragma once

#include "maps/maprenderer.h"

#include <QColor>
#include <QImage>
#include <QRect>

#include <optional>
#include <vector>

// Maps each drawn inside an area of one picture, as an editor of levels shows them: the area
// filled with the map's background colour, the map's layers over it with its top-left cell at
// the area's corner, nothing outside the area. Areas are drawn in order, later over earlier.
struct MapArea {
    TiledMap map;
    QRect area;  // in the picture's pixels before scaling
};

class AreasRenderer {
public:
    // The picture spans every area; --size fits it, --tilesize scales the first map's cell to
    // it, --scale scales it. A picture past the limits is refused (481) naming file.
    AreasRenderer(const std::vector<MapArea>& areas, MapRenderer::Options options, const QString& file);

    QSize PictureSize() const { return size_; }
    // Premultiplied ARGB32, transparent outside the areas.
    QImage Draw();
    int LayersDrawn() const { return drawn_; }
    std::int64_t TilesDrawn() const { return tiles_; }

private:
    const std::vector<MapArea>& areas_;
    MapRenderer::Options options_;
    QRect bounds_;
    double scale_ = 1.0;
    QSize size_;
    int drawn_ = 0;
    std::int64_t tiles_ = 0;
};
