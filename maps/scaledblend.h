#pragma once

#include <QImage>
#include <QPainter>
#include <QRectF>
#include <QTransform>

// A whole picture drawn into target through matrix, as QPainter's raster engine draws it
// onto an ARGB32 canvas (tmxrasterizer's) where matrix scales, mirrors, moves and turns by
// quarters (those evenly scaled): the same rows and columns filled and the same source pixel
// picked for each (Qt's 16.16 fixed point steps, or its floating point where those would
// overflow), then laid over the canvas row by row as Qt lays a span (by hand where that is
// quicker, else by the painter at their own size). Without the cost of Qt's transformed
// drawing, which dominated scaled maps of small tiles. False, with nothing drawn, where the
// painter's device, state, transform or the picture's format is outside that.
bool BlendScaled(QPainter& painter, const QTransform& matrix, const QImage& picture, const QRectF& target);
