#pragma once

#include "commands/tileoptions.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

// The command line as given: the command, its operands, option values as texts and flags.
struct Request {
    QString command;
    QStringList operands;
    QMap<QString, QString> values;  // "--start" -> "3"
    QStringList flags;              // "--exact", "--keep-edges"
    bool quiet = false;
    bool help = false;
    bool json = false;
    std::optional<int> jobs;  // --jobs N: the threads of the run

    std::vector<std::pair<QString, QString>> given;  // every value in order, for options given more than once

    std::optional<QString> Value(const QString& name) const;
    // Every value of an option that may be given more than once ("--layer").
    QStringList All(const QString& name) const;
    bool Has(const QString& name) const { return values.contains(name) || flags.contains(name); }
};

// Reads the options that may stand anywhere after the command (args[0] is the command), and
// those before it; returns an error text.
QString ParseOptions(const QStringList& args, Request& request);

// Reads the options every command takes (--quiet, --json, --jobs N, --help) at args[at];
// the number of arguments taken, 0 where it is none of them. An error text for a bad value.
int ParseCommonOption(const QStringList& args, qsizetype at, Request& request, QString& problem);

// The option names a command does not take; returns an error text for the first one given.
QString RefuseOptionsOf(const Request& request);

// The width box as the window fills it at start: Width of the info.ini beside the program.
QString StartupWidth();

// Checks every option value of the request; returns an error text for the first bad one
// (a one-line reason), else fills options.
QString ReadTileOptions(const Request& request, TileOptions& options);
