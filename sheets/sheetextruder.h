#pragma once

#include "sheets/tilegrid.h"

#include <QImage>
#include <QSize>

// Extrusion against texture bleeding: every whole tile of a sheet with its edge pixels
// repeated a few pixels outward on each side (corners take the corner pixel), laid out with
// the sheet's margin and spacing between the grown tiles. A GPU that samples a little past
// a tile's edge then reads the tile's own colour, not its neighbour's. Partial tiles at the
// right and bottom edges are dropped, as split drops them.
class SheetExtruder {
public:
    SheetExtruder(const TileGrid& grid, int extrusion);

    // Columns and rows of whole tiles of a sheet of this size.
    QSize Cells(QSize sheet) const { return grid_.WholeCells(sheet); }
    // Size of the extruded sheet; empty when the sheet holds no whole tile or a side would
    // pass the largest canvas.
    QSize ExtrudedSize(QSize sheet) const;
    // The grid a map editor reads the extruded sheet with: the same tiles, the margin grown
    // by the extrusion and the spacing by twice it.
    TileGrid ExtrudedGrid() const;

    // The extruded sheet, in the sheet's format: an indexed sheet keeps its palette (with a
    // transparent entry added where gaps need one and there is room, else it comes out
    // RGBA8888), 32-bit ones their bytes. Margins and spacing are transparent, or the
    // background colour in an RGB32 sheet (a bitmap's). Other formats are read as RGBA8888.
    // Raises 7 where the memory is not there.
    QImage Extrude(const QImage& sheet) const;
    // The same for tile rows first to last - 1 of a sheet of sheetSize, from its rows that
    // start at row rowsTop: the extruded sheet's rows OutTop(first) to OutTop(last) - 1, so
    // a big sheet is extruded a band at a time.
    QImage ExtrudeRows(const QImage& rows, QSize sheetSize, int rowsTop, int first, int last) const;
    // The extruded sheet's first row for tile row row (0 for the first, its height past the last).
    int OutTop(QSize sheet, int row) const;

private:
    TileGrid grid_;
    int extrusion_;
};
