#pragma once

#include <QString>

#include <cstdint>
#include <vector>

class FormView;

// The surface table procedures of the converter window. They read and set the window's text
// members TileWidth, NumTileSurfs and NumSpriteSurfs and the width box; every failure goes to
// the caller as a RuntimeError.

// Prepares the tile table for a Compile run from FilePath's info.ini: the tile count, the row
// width, a fresh empty table with bounds 0 to the count. A missing info.ini is told in a
// message box, changes nothing and gives false.
bool InitSurfaces(FormView& form, const QString& FilePath);

// Loads tile Num from FilePath (which ends with a separator) into its slot, unless the slot
// is filled or Num is above the tile count. A Num outside the table raises 9; a failure of
// the image layer names the tile file in its description.
void ReadyTileSurface(FormView& form, std::int32_t Num, const QString& FilePath);

// Has the tiles of these numbers that ReadyTileSurface would load read ahead on a helper
// thread, so that it finds them decoded: a sheet's next row is read while this one is drawn.
void ReadTileSurfacesAhead(const std::vector<std::int32_t>& Nums, const QString& FilePath);

// The sprite counterpart of ReadyTileSurface.
void ReadySpriteSurface(FormView& form, std::int32_t Num, const QString& FilePath);

// True when at least one ordinary file matches the name.
bool FileExist(const QString& FileName, bool RAW);
