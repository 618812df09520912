#pragma once

#include <QString>

// The private-profile functions of Windows, with the behaviour users know from there:
// names match without regard to case and surrounding blanks, blanks around a value are
// dropped and one pair of matching quotes removed, ';' lines are comments, the first
// matching section and key win.

// Copies the value (or the default) into buffer, cut to size - 1 characters and followed
// by a NUL; the rest of the buffer stays as it was. Returns the count copied.
int GetPrivateProfileString(const QString& section, const QString& key, const QString& defaultValue,
                            QString& buffer, int size, const QString& fileName);

// Sets the key in the section, replacing its line in place, adding a missing key at the end
// of its section and a missing section at the end of the file; every other byte stays.
// Never leaves a half-written file. Returns false, with errno telling why, when the file
// could not be written.
bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& fileName);
