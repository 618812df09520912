#pragma once

#include <QPainter>
#include <QString>

// A layer's blend mode (Tiled 1.12 "mode") as the composition Tiled draws its tiles, tile
// objects and image with; shapes and text are drawn normally. An unknown name is normal, as
// Tiled reads it.
QPainter::CompositionMode LayerComposition(const QString& mode);
