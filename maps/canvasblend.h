#pragma once

#include <cstdint>

// Premultiplied pixels laid source-over at the painter's opacity (1/256 or more) onto a row of
// at most 1024 ARGB32 canvas pixels (tmxrasterizer's canvas), to the byte as QPainter's raster
// engine lays one span of them. Qt takes such a canvas through 16-bit premultiplied values,
// and its vector paths round an opaque canvas pixel, or an opaque or translucent result, by
// the pixels it shares a vector with. Opaque pixels at full opacity, and clear ones over
// opaque or clear canvas pixels, come back whole on every path and cost a copy; the rest are
// summed as Qt sums them, one by one, which is slower than Qt's vectors. False, with nothing
// laid, where more than most pixels need sums, or where some do and the processor lacks AVX2
// or the Qt at hand lays a span otherwise than the ways this knows (told by laying probe rows
// both ways, once per process, when a row first needs sums).
bool BlendCanvasRow(const std::uint32_t* source, std::uint32_t* canvas, int length, double opacity, int most);
