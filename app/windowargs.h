#pragma once

#include <QCoreApplication>

#include <optional>

// Reads the window program's arguments: --help and --version print and give exit status 0,
// anything else is refused with a usage line on stderr and status 2. No value means the
// window opens.
std::optional<int> HandleWindowArguments(const QCoreApplication& app);
