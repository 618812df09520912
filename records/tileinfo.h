#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// The tile information file info.ini: one value read or written at a time.

// The key's value (at most 499 characters), or "" when the file, section or key is
// missing or the value is empty. Never fails.
QString GetVar(const QString& File, const QString& Header, const QString& Var);

// Sets the key; a write that cannot be made (missing folder, read-only file) raises nothing.
// False, with errno telling why, when the value was not written: a caller that records a
// count must not go on as if it had been.
bool WriteVar(const QString& File, const QString& Header, const QString& Var, const QString& Value);

// A folder of tiles records its count of tiles (the next free tile number) under [MAIN]
// NumFiles of its info.ini.

// The info.ini of the folder, whether or not its path ends in a separator.
QString TileInfoFile(const QString& folder);

// The count as the file holds it, "" when it holds none. Never fails.
QString ReadTileCount(const QString& folder);

// Records the count; where it cannot be written, raises the failure of errno about the file,
// for a count that is not recorded would make a later compile draw the wrong tiles.
void WriteTileCount(const QString& folder, std::int64_t count);

// The grid a folder's tiles were cut with where split was given tile options, recorded beside
// NumFiles (keys the window ignores) so that compile rebuilds the sheet without them.
struct RecordedGrid {
    int tileWidth = 0, tileHeight = 0;
    int margin = 0, spacing = 0;
    QString format;   // "png" or "bmp"
    int columns = 0;  // tiles to a row of the sheet they were cut from; 0 for none
};

// Records the grid; a failure raises as for the count. A grid of no tile size clears the record
// (the window's way of splitting has none).
void WriteTileGrid(const QString& folder, const RecordedGrid& grid);

// The recorded grid, nullopt where the folder records none. Never fails.
std::optional<RecordedGrid> ReadTileGrid(const QString& folder);
