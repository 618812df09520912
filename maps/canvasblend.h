#pragma once

#include <cstdint>

// Premultiplied pixels laid source-over at the painter's opacity (1/256 or more) onto a row of
// at most 1024 ARGB32 canvas pixels (tmxrasterizer's canvas), to the byte as QPainter's raster
// engine lays one span of them. Qt takes such a canvas through 16-bit premultiplied values,
// and its vector paths round an opaque canvas pixel, or an opaque or translucent result, by
// the pixels it shares a vector with. Opaque pixels at full opacity, and clear ones over
// opaque or clear canvas pixels, cost a copy; the rest are summed as Qt sums them, one by one,
// which is slower than Qt's vectors: where more than most of them need it, false with nothing
// laid. Null where the Qt and processor at hand lay a span otherwise than the ways this knows,
// which it tells by laying probe spans both ways once per process.
using CanvasRowBlend = bool (*)(const std::uint32_t* source, std::uint32_t* canvas, int length, double opacity,
                                int most);
CanvasRowBlend CanvasBlendLikeQt();
