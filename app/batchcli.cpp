#include "batchcli.h"

#include "batchform.h"

#include "conversion/converter.h"
#include "runtime/messagebox.h"
#include "runtime/numbers.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"
#include "runtime/userfolders.h"
#include "records/bmpsize.h"
#include "records/tileinfo.h"

#include <QFile>

#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {
constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

const char* const MainHelp =
    "Usage: tilvex COMMAND [ARGUMENTS]\n"
    "\n"
    "Splits bitmaps into numbered 32 by 32 pixel tiles and compiles tiles into sheets,\n"
    "exactly as the Tilvex Converter window does, without a window.\n"
    "\n"
    "Commands:\n"
    "  split SOURCE DEST [--start N]            cut SOURCE.bmp into DEST/N.bmp, DEST/N+1.bmp, ...\n"
    "  compile SOURCE DEST [--start N] [--width W]  draw the tiles of folder SOURCE onto DEST/Tiles.bmp\n"
    "  info FILE...                             width, height and depth of BMP, GIF, PNG, JPEG files\n"
    "\n"
    "Options:\n"
    "  --quiet      print nothing but errors\n"
    "  --help       show help (also after a command)\n"
    "  --version    show the version\n"
    "\n"
    "Exit status: 0 success, 1 a failure during the run, 2 a usage error or bad input.\n"
    "Failures are also appended to Errors.Log beside the program, or in ~/.local/state/tilvex/\n"
    "where the program's folder cannot be written (an installed program).\n";

const char* const SplitHelp =
    "Usage: tilvex split SOURCE DEST [--start N] [--quiet]\n"
    "\n"
    "Cuts the bitmap SOURCE (a name ending in .bmp) into 32 by 32 pixel tiles in row-major\n"
    "order and saves them as DEST/N.bmp, DEST/N+1.bmp, ... (DEST is created if missing, one\n"
    "level). DEST/info.ini records the next free number under [MAIN] NumFiles.\n"
    "  --start N   number of the first tile (default 0; halves round to even)\n";

const char* const CompileHelp =
    "Usage: tilvex compile SOURCE DEST [--start N] [--width W] [--quiet]\n"
    "\n"
    "Draws the numbered tiles of the folder SOURCE (NumFiles of SOURCE/info.ini of them),\n"
    "W to a row, onto one sheet saved as DEST/Tiles.bmp. DEST must exist.\n"
    "  --start N   number of the tile in the top-left cell (default 0)\n"
    "  --width W   tiles per row (default: Width of the start-up info.ini, beside the program\n"
    "              or in ~/.config/tilvex/ for an installed program, else 0; below 1 means 6)\n";

const char* const InfoHelp =
    "Usage: tilvex info FILE...\n"
    "\n"
    "Prints one tab-separated line per file: path, format (GIF, JPEG, PNG, BMP or unknown),\n"
    "width, height and depth, as read from the file's header.\n";

void printOut(const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

void printErr(const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

int usage(const QString& problem, const char* help) {
    printErr(QStringLiteral("tilvex: %1\n%2").arg(problem, QString::fromUtf8(help)));
    return ExitUsage;
}

// What the command line holds once parsed.
struct Request {
    QString command;
    QStringList operands;
    std::optional<QString> start;
    std::optional<QString> width;
    bool quiet = false;
    bool help = false;
};

// Reads the options that may stand anywhere after the command; returns an error text.
QString parseOptions(const QStringList& args, Request& request) {
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        auto takeValue = [&](const QString& name, std::optional<QString>& slot) -> QString {
            if (arg.startsWith(name + "=")) {
                slot = arg.mid(name.size() + 1);
                return QString();
            }
            if (i + 1 >= args.size()) {
                return QStringLiteral("%1 needs a value").arg(name);
            }
            slot = args[++i];
            return QString();
        };
        if (arg == "--") {
            request.operands += args.mid(i + 1);
            break;
        }
        if (arg == "--quiet" || arg == "-q") {
            request.quiet = true;
        } else if (arg == "--help" || arg == "-h") {
            request.help = true;
        } else if (arg == "--start" || arg.startsWith("--start=")) {
            if (QString problem = takeValue(QStringLiteral("--start"), request.start); !problem.isEmpty()) {
                return problem;
            }
        } else if (arg == "--width" || arg.startsWith("--width=")) {
            if (QString problem = takeValue(QStringLiteral("--width"), request.width); !problem.isEmpty()) {
                return problem;
            }
        } else if (arg.startsWith("--") && arg.size() > 2) {
            return QStringLiteral("unknown option %1").arg(arg);
        } else {
            request.operands += arg;
        }
    }
    return QString();
}

QString formatName(std::int32_t type) {
    switch (type) {
    case bmpsize::Gif: return QStringLiteral("GIF");
    case bmpsize::Jpeg: return QStringLiteral("JPEG");
    case bmpsize::Png: return QStringLiteral("PNG");
    case bmpsize::Bmp: return QStringLiteral("BMP");
    default: return QStringLiteral("unknown");
    }
}

int runInfo(const Request& request) {
    int status = ExitOk;
    bmpsize reader;
    for (const QString& file : request.operands) {
        try {
            reader.ReadImageInfo(file);
            printOut(QStringLiteral("%1\t%2\t%3\t%4\t%5\n")
                         .arg(file, formatName(reader.ImageType()))
                         .arg(reader.Width())
                         .arg(reader.Height())
                         .arg(reader.Depth()));
        } catch (const RuntimeError& failure) {
            printErr(QStringLiteral("tilvex: %1: error %2: %3\n").arg(file).arg(failure.Number()).arg(failure.Description()));
            status = ExitFailure;
        }
    }
    return status;
}

// The width box as the window fills it at start.
QString startupWidth() {
    return NumberText(ParseNumber(GetVar(StartupInfoFile(), "MAIN", "Width")));
}

int runConversion(const Request& request, bool split) {
    const bool showProgress = !request.quiet && ::isatty(STDERR_FILENO);
    BatchForm form(showProgress);
    Converter converter(form);
    QStringList messages;
    std::optional<RuntimeError> failure;
    SetMessageBoxHandler([&](const QString& text) { messages += text; });
    converter.SetFailureObserver([&](const RuntimeError& e) { failure = e; });

    using Box = FormView::Box;
    form.SelectSplit(split);
    form.SetText(Box::ipath, request.operands[0]);
    form.SetText(Box::spath, request.operands[1]);
    form.SetText(Box::txtStart, request.start.value_or(QStringLiteral("0")));
    form.SetText(Box::txtWidth, request.width.value_or(startupWidth()));

    converter.Command1_Click();
    form.EndProgress();
    SetMessageBoxHandler(nullptr);

    for (const QString& message : messages) {
        printErr(QStringLiteral("tilvex: %1\n").arg(message));
    }
    if (failure) {
        printErr(QStringLiteral("tilvex: error %1: %2\n").arg(failure->Number()).arg(failure->Description()));
    }
    if (!messages.isEmpty()) {
        return ExitUsage;
    }
    if (failure) {
        return ExitFailure;
    }
    if (request.quiet) {
        return ExitOk;
    }
    const QString destination = form.Text(Box::spath);
    const QString folder = EndsWithSeparator(destination) ? destination : destination + PathSeparator();
    if (split) {
        const QString next = GetVar(folder + "info.ini", "MAIN", "NumFiles");
        printOut(QStringLiteral("%1 tiles written to %2, next free number %3\n").arg(form.TilesCut()).arg(folder, next));
    } else {
        const Picture& sheet = form.Image(FormView::Pic::picBack);
        printOut(QStringLiteral("%1Tiles.bmp written, %2 by %3 pixels\n").arg(folder).arg(sheet.Width()).arg(sheet.Height()));
    }
    return ExitOk;
}
}  // namespace

int RunBatch(const QStringList& arguments) {
    const QStringList args = arguments.mid(1);
    if (args.isEmpty()) {
        return usage(QStringLiteral("no command given"), MainHelp);
    }
    const QString& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        printOut(QString::fromUtf8(MainHelp));
        return ExitOk;
    }
    if (command == "--version") {
        printOut(QStringLiteral("tilvex %1\n").arg(QStringLiteral(TILVEX_VERSION)));
        return ExitOk;
    }

    Request request;
    request.command = command;
    const char* help = command == "split" ? SplitHelp : command == "compile" ? CompileHelp
                                          : command == "info"  ? InfoHelp : nullptr;
    if (help == nullptr) {
        return usage(QStringLiteral("unknown command %1").arg(command), MainHelp);
    }
    if (const QString problem = parseOptions(args, request); !problem.isEmpty()) {
        return usage(problem, help);
    }
    if (request.help) {
        printOut(QString::fromUtf8(help));
        return ExitOk;
    }
    if (command == "info") {
        if (request.start || request.width) {
            return usage(QStringLiteral("info takes no --start or --width"), help);
        }
        if (request.operands.isEmpty()) {
            return usage(QStringLiteral("info needs at least one FILE"), help);
        }
        return runInfo(request);
    }
    if (request.operands.size() != 2) {
        return usage(QStringLiteral("%1 needs SOURCE and DEST").arg(command), help);
    }
    if (command == "split" && request.width) {
        return usage(QStringLiteral("split takes no --width"), help);
    }
    return runConversion(request, command == "split");
}
