#pragma once

#include "tiled/tiledmodel.h"

#include <QString>

#include <functional>

// Values of map and tileset files, checked as they are read: each failure is 481 naming
// the file and what was wrong.
[[noreturn]] void InvalidMapFile(const QString& file, const QString& reason);

// A whole number within [least, most]; otherwise when the text is empty.
int MapNumber(const QString& file, const QString& name, const QString& text, int least, int most, int otherwise = 0);
double MapReal(const QString& file, const QString& name, const QString& text, double otherwise = 0.0);
std::uint32_t MapGid(const QString& file, const QString& text);
// "#RRGGBB" or "#AARRGGBB" (a leading "#" optional, as Tiled reads it); nullopt for "".
std::optional<QColor> MapColour(const QString& file, const QString& name, const QString& text);
// A text object's settings from its attributes (TMX <text>, TMJ "text"), each given as the
// text an attribute holds ("" where absent, "1"/"0" for flags).
TiledText MapText(const QString& file, const std::function<QString(const char*)>& attribute, const QString& text);
// A path in a file, made absolute against that file's folder.
QString PathBeside(const QString& file, const QString& reference);
// Cells of a rectangle of a layer, refused where they pass the limit before any is allocated.
std::size_t LayerCells(const QString& file, const QString& layer, qint64 width, qint64 height);
// Refuses a tile id given twice.
void AddTile(const QString& file, TiledTileset& tileset, TiledTile tile);

// An embedded image's file bytes from the text of its <data>: "base64" or none.
QByteArray EmbeddedImage(const QString& file, const QString& encoding, const QString& text);
// A tile's sub-rectangle of its image (1.9); an empty rectangle where none is given.
QRect ImageRect(const QString& file, const QString& x, const QString& y, const QString& width, const QString& height);
// tilerendersize ("tile", "grid") and fillmode ("stretch", "preserve-aspect-fit"); others are the defaults.
void RenderSizeAndFill(const QString& file, const QString& renderSize, const QString& fillMode, TiledTileset& tileset);
// The size of the picture an image names or embeds; invalid where it is no picture.
QSize TiledImageSize(const TiledImage& image);

// Whole tiles along one side of a sheet, as Tiled cuts it: from the margin, a spacing apart.
int SheetCells(int side, int tile, int margin, int spacing);
// Refuses (481, about the tileset's file) a sheet too small for one tile inside its margin:
// every command that reads the sheet says so, rather than drawing nothing.
void CheckSheetHoldsATile(const QString& file, QSize sheet, QSize tile, int margin);

// Fills in what older files leave out: a sheet's tile count from its image's size, as
// Tiled cuts the sheet.
void FinishTileset(const QString& file, TiledTileset& tileset);
