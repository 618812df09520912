#pragma once

#include <QString>

#include <cstdint>

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
