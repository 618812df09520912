#pragma once

#include <QString>

// The tile information file info.ini: one value read or written at a time.

// The key's value (at most 499 characters), or "" when the file, section or key is
// missing or the value is empty. Never fails.
QString GetVar(const QString& File, const QString& Header, const QString& Var);

// Sets the key; a write that cannot be made (missing folder, read-only file) raises nothing.
// False, with errno telling why, when the value was not written: a caller that records a
// count must not go on as if it had been.
bool WriteVar(const QString& File, const QString& Header, const QString& Var, const QString& Value);
