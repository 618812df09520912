#include "maps/areasrenderer.h"

#include "runtime/limits.h"
#include "runtime/runtimeerror.h"
#include "tiled/tiledvalues.h"

#include <QPainter>

#include <cmath>

namespace {
// The largest picture, as for one map: 2^28 pixels (1 GiB).
constexpr double MaxPixels = static_cast<double>(Limits::PicturePixels);

int scaled(int pixels, double scale) { return static_cast<int>(std::floor(pixels * scale)); }
}  // namespace

AreasRenderer::AreasRenderer(const std::vector<MapArea>& areas, MapRenderer::Options options, const QString& file)
    : areas_(areas), options_(options) {
    for (const MapArea& placed : areas) {
        bounds_ |= placed.area;
    }
    const double width = bounds_.width(), height = bounds_.height();
    if (options.fitSize > 0) {
        scale_ = std::min({1.0, options.fitSize / width, options.fitSize / height});
    } else if (options.tileSize > 0 && !areas.empty()) {
        scale_ = static_cast<double>(options.tileSize) / areas.front().map.tile.width();
    } else {
        scale_ = options.scale;
    }
    const double w = width * scale_, h = height * scale_;
    if (areas.empty() || w > Limits::PictureSide || h > Limits::PictureSide || w * h > MaxPixels || w < 1 || h < 1) {
        InvalidMapFile(file, QStringLiteral("the levels make a %1x%2 picture, not from 1 to %3 pixels a side or more than %4 pixels")
                                 .arg(static_cast<std::int64_t>(w)).arg(static_cast<std::int64_t>(h))
                                 .arg(Limits::PictureSide).arg(static_cast<std::int64_t>(MaxPixels)));
    }
    size_ = QSize(static_cast<int>(w), static_cast<int>(h));
    options_.scale = 1.0;
    options_.tileSize = 0;
    options_.fitSize = 0;
}

QImage AreasRenderer::Draw() {
    QImage picture(size_, QImage::Format_ARGB32_Premultiplied);
    if (picture.isNull()) {
        RaiseError(Err::OutOfMemory);
    }
    picture.fill(0u);
    drawn_ = 0;
    tiles_ = 0;
    QPainter painter(&picture);
    for (const MapArea& placed : areas_) {
        const QPoint at = placed.area.topLeft() - bounds_.topLeft();
        const QRect target(QPoint(scaled(at.x(), scale_), scaled(at.y(), scale_)),
                           QSize(scaled(placed.area.width(), scale_), scaled(placed.area.height(), scale_)));
        if (target.isEmpty()) {
            continue;
        }
        // Drawn apart, so nothing of a map shows outside its area.
        QImage own(target.size(), QImage::Format_ARGB32_Premultiplied);
        if (own.isNull()) {
            RaiseError(Err::OutOfMemory);
        }
        own.fill(placed.map.background ? qPremultiply(placed.map.background->rgba()) : 0u);
        MapRenderer renderer(placed.map, options_);
        renderer.DrawOnto(own, QPoint(0, 0), QSizeF(scale_, scale_));
        drawn_ += renderer.LayersDrawn();
        tiles_ += renderer.TilesDrawn();
        painter.drawImage(target.topLeft(), own);
    }
    return picture;
}
