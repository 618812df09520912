#pragma once

#include <QString>
#include <QStringList>

// Rules for the files a run writes, checked before anything is written.

// Where a file the user names or the tool edits in place (a map, a tileset, a sheet) is
// written: at the end of its symbolic links, as editors do, so that the links stay. Tile files
// in a folder are not resolved: a new tile replaces a link there (see AtomicFile).
QString LinkTarget(const QString& path);

// Refuses (75, naming it) a destination that exists and is no regular file: a device, a FIFO,
// a socket or a folder would be replaced by, or fed with, the file.
void RefuseSpecialFile(const QString& path);

// Refuses (75, naming both) a destination that is one of the run's own inputs, links and
// hard links included: the input would be lost under the output.
void RefuseInputsAsDestinations(const QStringList& destinations, const QStringList& inputs);
