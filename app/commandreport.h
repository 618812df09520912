#pragma once

#include <QString>

#include <optional>

struct Request;

class RuntimeError;

// How the tile commands end a run, so every command reports alike.

// The window's messages for the same mistakes, so scripts see one wording.
extern const QString NoSource;
extern const QString NoDestination;

// A usage mistake or bad input: one line on standard error, exit 2.
int RefuseRun(const QString& reason);

// A failure during the run: reported, and logged as the window logs its own; exit 1.
int FailRun(const RuntimeError& failure, const QString& procedure);

// The path with a trailing separator.
QString AsFolder(const QString& path);

// The operands of a split: the exit status when DEST is blank or SOURCE no file, else none.
std::optional<int> RefuseSplitOperands(const Request& request);
