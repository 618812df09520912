#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <vector>

// Every file of the tile commands (PNG tiles and sheets, tilesets) is written through this
// one function: the whole file put in place at once (see AtomicFile), replacing a file of
// that name. Failures raise the run-time error of the cause.
void WriteWholeFile(const QString& path, const void* data, std::size_t size);

// Reads a whole file into the buffer (resized to fit). 53 for a missing file, 481 for
// something that is no regular file.
void ReadWholeFile(const QString& path, std::vector<unsigned char>& into);
// The same as bytes.
QByteArray ReadWholeFile(const QString& path);
