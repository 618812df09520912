#pragma once

#include <QStringList>

// The batch program: parses the command line, runs the command and returns the exit status
// (0 success, 1 a failure during the run or an unreadable file, 2 a usage error or a message
// the window would have shown).
int RunBatch(const QStringList& arguments);
