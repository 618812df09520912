#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Aseprite's own files (.aseprite, .ase), as its published file format describes them: the
// first frame, its visible image layers composed bottom to top in normal blend with layer
// and cel opacity; RGBA, grayscale and indexed pixels (the transparent index clear but on
// the background layer); raw and zlib-compressed cels. Tilemap layers are left out.

bool IsAsepriteName(const QString& path);

// The first frame, Format_ARGB32_Premultiplied. A file that is no Aseprite file, is cut or
// passes the picture limits gives 481 naming file.
QImage DecodeAseprite(const QString& file, const QByteArray& bytes);
