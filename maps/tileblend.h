#pragma once

#include <QImage>
#include <QPoint>

// A premultiplied ARGB32 picture laid over a premultiplied ARGB32 canvas with its top-left
// pixel at `at`, clipped to the canvas, at the painter's opacity: the pixels QPainter gives
// for drawImage at whole pixels in SourceOver (Qt's raster blend of the two formats, its
// opacity cut to 256ths and then to 255ths, every product rounded as Qt rounds it), without
// the painter's cost of a few microseconds a call, which dominated maps of small tiles.
// Pictures of other formats, or over a canvas of another, are left out.
bool Opaque(const QImage& picture);
void BlendPremultiplied(QImage& canvas, const QImage& picture, QPoint at, double opacity);

// A picture's pixels as the blend reads them, taken once for a picture blended often: its
// rows are null where it is not premultiplied ARGB32.
struct BlendSource {
    const uchar* bits = nullptr;
    qsizetype line = 0;
    int width = 0;
    int height = 0;
};
BlendSource BlendSourceOf(const QImage& picture);

// The same for many pictures over one canvas, which must not be copied or resized meanwhile.
class PremultipliedCanvas {
public:
    explicit PremultipliedCanvas(QImage& canvas);
    // opaque says every pixel of the picture is (then at full opacity its rows are copied).
    void Blend(const QImage& picture, QPoint at, double opacity, bool opaque = false);
    void Blend(const BlendSource& picture, QPoint at, double opacity, bool opaque = false);

private:
    uchar* bits_ = nullptr;  // null where the canvas is not premultiplied ARGB32
    qsizetype line_ = 0;
    int width_ = 0;
    int height_ = 0;
};
