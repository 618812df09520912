#pragma once

#include <QImage>
#include <QString>

// Reads a picture of any format the toolkit reads, recognised by its content: PNG through
// the exact PNG reader, Windows bitmaps through the project's own decoder, the rest through
// Qt's readers. The result is Format_Indexed8 (a picture with a palette) or
// Format_RGBA8888 (straight alpha). 53 for a missing file, 481 for no readable picture.
QImage LoadPicture(const QString& path);

// The image in one of the two formats above, every pixel kept.
QImage InTileFormat(const QImage& image);
