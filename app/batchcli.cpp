#include "batchcli.h"

#include "batchform.h"
#include "batchio.h"
#include "batchoptions.h"
#include "helptexts.h"
#include "mapcommands.h"
#include "optimizecommand.h"
#include "tilecommands.h"

#include "conversion/converter.h"
#include "imaging/picture.h"
#include "records/bmpsize.h"
#include "records/tileinfo.h"
#include "runtime/messagebox.h"
#include "runtime/numbers.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"
#include "tiles/tiledfiles.h"

#include <QFileInfo>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <unistd.h>

namespace {
int usage(const QString& problem, const char* help) {
    PrintErr(QStringLiteral("tilvex: %1\n%2").arg(problem, QString::fromUtf8(help)));
    return ExitUsage;
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
        if (IsTiledMapName(file)) {
            status = std::max(status, PrintMapInfo(file));
            continue;
        }
        try {
            reader.ReadImageInfo(file);
            PrintOut(QStringLiteral("%1\t%2\t%3\t%4\t%5\n")
                         .arg(file, formatName(reader.ImageType()))
                         .arg(reader.Width())
                         .arg(reader.Height())
                         .arg(reader.Depth()));
        } catch (const RuntimeError& failure) {
            PrintErr(QStringLiteral("tilvex: %1: error %2: %3\n").arg(file).arg(failure.Number()).arg(failure.Description()));
            status = ExitFailure;
        }
    }
    return status;
}


// Pixels of the sheet that no 32 by 32 tile the window cut holds.
std::int64_t droppedPixels(const Picture& sheet, long long tilesCut) {
    const std::int64_t across = sheet.Width() / 32;
    const std::int64_t rows = across > 0 ? tilesCut / across : 0;
    const std::int64_t kept = std::min<std::int64_t>(sheet.Width(), 32 * across) * std::min<std::int64_t>(sheet.Height(), 32 * rows);
    return std::int64_t{sheet.Width()} * sheet.Height() - kept;
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
    form.SetText(Box::txtStart, request.Value("--start").value_or(QStringLiteral("0")));
    form.SetText(Box::txtWidth, request.Value("--width").value_or(StartupWidth()));

    converter.Command1_Click();
    form.EndProgress();
    SetMessageBoxHandler(nullptr);

    for (const QString& message : messages) {
        PrintErr(QStringLiteral("tilvex: %1\n").arg(message));
    }
    if (failure) {
        PrintErr(QStringLiteral("tilvex: error %1: %2\n").arg(failure->Number()).arg(failure->Description()));
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
        QString line = QStringLiteral("%1 tiles written to %2, next free number %3").arg(form.TilesCut()).arg(folder, next);
        if (const std::int64_t dropped = droppedPixels(form.Image(FormView::Pic::pic2), form.TilesCut()); dropped > 0) {
            line += QStringLiteral("; %1 pixels at the right and bottom edges dropped (--keep-edges keeps them)").arg(dropped);
        }
        PrintOut(line + "\n");
    } else {
        const Picture& sheet = form.Image(FormView::Pic::picBack);
        PrintOut(QStringLiteral("%1Tiles.bmp written, %2 by %3 pixels\n").arg(folder).arg(sheet.Width()).arg(sheet.Height()));
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
        PrintOut(QString::fromUtf8(MainHelp));
        return ExitOk;
    }
    if (command == "--version") {
        PrintOut(QStringLiteral("tilvex %1\n").arg(QStringLiteral(TILVEX_VERSION)));
        return ExitOk;
    }

    Request request;
    request.command = command;
    const char* help = command == "split" ? SplitHelp : command == "compile" ? CompileHelp
                                          : command == "info"  ? InfoHelp
                                          : command == "optimize" ? OptimizeHelp : nullptr;
    if (help == nullptr) {
        return usage(QStringLiteral("unknown command %1").arg(command), MainHelp);
    }
    if (const QString problem = ParseOptions(args, request); !problem.isEmpty()) {
        return usage(problem, help);
    }
    if (request.help) {
        PrintOut(QString::fromUtf8(help));
        return ExitOk;
    }
    if (const QString problem = RefuseOptionsOf(request); !problem.isEmpty()) {
        return usage(problem, help);
    }
    if (command == "info") {
        if (request.operands.isEmpty()) {
            return usage(QStringLiteral("info needs at least one FILE"), help);
        }
        return runInfo(request);
    }
    if (command == "optimize") {
        TileOptions options;
        if (request.operands.isEmpty()) {
            return usage(QStringLiteral("optimize needs at least one MAP"), help);
        }
        if (const QString problem = ReadTileOptions(request, options); !problem.isEmpty()) {
            PrintErr(QStringLiteral("tilvex: %1\n").arg(problem));
            return ExitUsage;
        }
        return RunOptimize(request, options);
    }
    if (command == "compile" && request.Has("--map")) {
        if (request.operands.size() != 1) {
            return usage(QStringLiteral("compile --map FILE needs DEST alone"), help);
        }
        TileOptions options;
        if (const QString problem = ReadTileOptions(request, options); !problem.isEmpty()) {
            PrintErr(QStringLiteral("tilvex: %1\n").arg(problem));
            return ExitUsage;
        }
        return RunMapCompile(request, options);
    }
    if (request.operands.size() != 2) {
        return usage(QStringLiteral("%1 needs SOURCE and DEST").arg(command), help);
    }
    TileOptions options;
    if (const QString problem = ReadTileOptions(request, options); !problem.isEmpty()) {
        PrintErr(QStringLiteral("tilvex: %1\n").arg(problem));
        return ExitUsage;
    }
    const bool split = command == "split";
    // A picture that is no .bmp by name can only be split the new way; a missing one gets
    // the window's message.
    const QString& source = request.operands[0];
    if (split && !options.tiled && !source.endsWith(".bmp") && QFileInfo(source).isFile()) {
        options.tiled = true;
    }
    if (options.tiled) {
        return split ? RunTileSplit(request, options) : RunTileCompile(request, options);
    }
    return runConversion(request, split);
}
