#pragma once

#include <QStringList>

// The batch program: parses the command line, runs the command and returns the exit status
// (0 success, 1 a failure during the run or an unreadable file, 2 a usage error or a message
// the window would have shown).
// undecodable: the arguments whose bytes are no text of the system's encoding; a run that
// names one is refused, since the name it would use is another file's.
int RunBatch(const QStringList& arguments, const QStringList& undecodable = {});
