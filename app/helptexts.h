#pragma once

#include <QString>

// What `tilvex --help` and `tilvex COMMAND --help` print.
extern const char* const MainHelp;
extern const char* const SplitHelp;
extern const char* const CompileHelp;
extern const char* const InfoHelp;
extern const char* const ExtrudeHelp;
extern const char* const OptimizeHelp;
extern const char* const ExportHelp;
extern const char* const AutotileHelp;

// The help of a command, nullptr for a name that is no command.
const char* HelpOf(const QString& command);
