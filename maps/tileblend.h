#pragma once

#include <QImage>
#include <QPoint>

// A premultiplied ARGB32 picture laid over a premultiplied ARGB32 canvas with its top-left
// pixel at `at`, clipped to the canvas, at the painter's opacity: the pixels QPainter gives
// for drawImage at whole pixels in SourceOver (Qt's raster blend of the two formats, its
// opacity cut to 256ths and then to 255ths, every product rounded as Qt rounds it), without
// the painter's cost of a few microseconds a call, which dominated maps of small tiles.
// Both must be premultiplied ARGB32 (PremultipliedOver says whether they are).
void BlendPremultiplied(QImage& canvas, const QImage& picture, QPoint at, double opacity);

bool PremultipliedOver(const QImage& canvas, const QImage& picture);
