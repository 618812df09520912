#include "batchcli.h"

#include "batchform.h"
#include "batchio.h"
#include "batchoptions.h"
#include "commandreport.h"
#include "extrudecommand.h"
#include "helptexts.h"
#include "progressbar.h"
#include "mapcommands.h"
#include "optimizecommand.h"
#include "tilecommands.h"

#include "conversion/converter.h"
#include "imaging/picture.h"
#include "records/bmpsize.h"
#include "records/tileinfo.h"
#include "runtime/messagebox.h"
#include "runtime/numbers.h"
#include "runtime/parallel.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"
#include "tiled/tiledfiles.h"

#include <QFileInfo>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <unistd.h>

namespace {
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
            if (reader.ImageType() == bmpsize::Unknown) {
                RaiseError(Err::InvalidPicture);
            }
            CommandReport::Current().Read(file);
            CommandReport::Current().Append(QStringLiteral("images"), {{"file", file},
                                                                      {"format", formatName(reader.ImageType())},
                                                                      {"width", static_cast<qint64>(reader.FullWidth())},
                                                                      {"height", static_cast<qint64>(reader.FullHeight())},
                                                                      {"depth", static_cast<qint64>(reader.Depth())}});
            PrintOut(QStringLiteral("%1\t%2\t%3\t%4\t%5\n")
                         .arg(file, formatName(reader.ImageType()))
                         .arg(reader.FullWidth())
                         .arg(reader.FullHeight())
                         .arg(reader.Depth()));
        } catch (const RuntimeError& failure) {
            PrintErr(QStringLiteral("tilvex: %1: error %2: %3\n").arg(file).arg(failure.Number()).arg(failure.Description()));
            status = ExitFailure;
        }
    }
    return status;
}


// Pixels of the sheet that no 32 by 32 tile the window cut holds.
std::int64_t droppedPixels(QSize sheet, long long tilesCut) {
    const std::int64_t across = sheet.width() / 32;
    const std::int64_t rows = across > 0 ? tilesCut / across : 0;
    const std::int64_t kept = std::min<std::int64_t>(sheet.width(), 32 * across) * std::min<std::int64_t>(sheet.height(), 32 * rows);
    return std::int64_t{sheet.width()} * sheet.height() - kept;
}

int runConversion(const Request& request, bool split) {
    if (const auto refused = split ? RefuseSplitOperands(request) : RefuseCompileOperands(request, false)) {
        return *refused;
    }
    const bool showProgress = !request.quiet && ::isatty(STDERR_FILENO);
    BatchForm form(showProgress);
    Converter converter(form);
    QStringList messages;
    std::optional<RuntimeError> failure;
    SetMessageBoxHandler([&](const QString& text) { messages += text; });
    // Logged below as the batch program's own entry, naming the command and the file.
    converter.SetFailureLogger([&](const RuntimeError& e) { failure = e; });

    using Box = FormView::Box;
    form.SelectSplit(split);
    form.SetText(Box::ipath, request.operands[0]);
    form.SetText(Box::spath, request.operands[1]);
    form.SetText(Box::txtStart, request.Value("--start").value_or(QStringLiteral("0")));
    form.SetText(Box::txtWidth, request.Value("--width").value_or(StartupWidth()));

    converter.Command1_Click();
    form.EndProgress();
    SetMessageBoxHandler(nullptr);

    CommandReport& report = CommandReport::Current();
    if (!messages.isEmpty()) {
        for (const QString& message : messages.mid(1)) {
            PrintErr(QStringLiteral("tilvex: %1\n").arg(message));
        }
        return report.Refuse(messages.front());
    }
    if (failure) {
        return report.Fail(*failure);
    }
    const QString folder = AsFolder(form.Text(Box::spath));
    report.Read(request.operands[0]);
    if (split) {
        const QString next = GetVar(folder + "info.ini", "MAIN", "NumFiles");
        const std::int32_t first = RoundToLong(StrictNumber(form.Text(Box::txtStart)));
        report.WroteTiles(folder, first, converter.TilesCut(), QStringLiteral(".bmp"));
        report.Wrote(folder + "info.ini");
        report.Count(QStringLiteral("next"), static_cast<std::int64_t>(ParseNumber(next)));
        QString line = QStringLiteral("%1 tiles written to %2, next free number %3").arg(converter.TilesCut()).arg(folder, next);
        if (const std::int64_t dropped = droppedPixels(converter.SheetSize(), converter.TilesCut()); dropped > 0) {
            report.Count(QStringLiteral("dropped"), dropped);
            line += QStringLiteral("; %1 pixels at the right and bottom edges dropped (--keep-edges keeps them)").arg(dropped);
        }
        if (!request.quiet) {
            PrintOut(line + "\n");
        }
    } else {
        const QSize sheet = converter.SheetSize();
        report.Wrote(folder + "Tiles.bmp");
        report.Count(QStringLiteral("width"), sheet.width());
        report.Count(QStringLiteral("height"), sheet.height());
        if (!request.quiet) {
            PrintOut(QStringLiteral("%1Tiles.bmp written, %2 by %3 pixels\n").arg(folder).arg(sheet.width()).arg(sheet.height()));
        }
    }
    return ExitOk;
}

// The command's operands counted: the problem when there are too few or too many.
QString operandProblem(const Request& request, const QStringList& names) {
    const qsizetype given = request.operands.size();
    const qsizetype wanted = names.size();
    const QString all = names.join(QStringLiteral(" and "));
    if (given < wanted) {
        return QStringLiteral("%1 needs %2; %3 missing")
            .arg(request.command, all, names.mid(given).join(QStringLiteral(" and ")) + (wanted - given > 1 ? " are" : " is"));
    }
    if (given > wanted) {
        return QStringLiteral("%1 takes %2 only; extra operand '%3'").arg(request.command, all, request.operands[wanted]);
    }
    return QString();
}

int runCommand(Request& request) {
    CommandReport& report = CommandReport::Current();
    const QString& command = request.command;
    if (command == "info") {
        if (request.operands.isEmpty()) {
            return report.RefuseUsage(QStringLiteral("info needs at least one FILE"));
        }
        return runInfo(request);
    }
    if (command == "optimize") {
        if (request.operands.isEmpty()) {
            return report.RefuseUsage(QStringLiteral("optimize needs at least one MAP"));
        }
        TileOptions options;
        if (const QString bad = ReadTileOptions(request, options); !bad.isEmpty()) {
            return RefuseRun(bad);
        }
        return RunOptimize(request, options);
    }
    const bool mapCompile = command == "compile" && request.Has("--map");
    const QString problem =
        mapCompile ? operandProblem(request, {QStringLiteral("DEST")})
                   : operandProblem(request, {QStringLiteral("SOURCE"), QStringLiteral("DEST")});
    if (!problem.isEmpty()) {
        return report.RefuseUsage(mapCompile ? "compile --map FILE: " + problem.section("; ", 1) : problem);
    }
    TileOptions options;
    if (const QString bad = ReadTileOptions(request, options); !bad.isEmpty()) {
        return RefuseRun(bad);
    }
    if (mapCompile) {
        return RunMapCompile(request, options);
    }
    if (command == "extrude") {
        return RunExtrude(request, options);
    }
    const bool split = command == "split";
    // A picture that is no .bmp by name can only be split the new way; a missing one gets
    // the window's message.
    const QString& source = request.operands[0];
    if (split && !options.tiled && !source.endsWith(".bmp") && QFileInfo(source).isFile()) {
        options.tiled = true;
    }
    if (options.tiled) {
        ProgressBar bar(!request.quiet && ::isatty(STDERR_FILENO));
        bar.FollowParallelWork();
        return split ? RunTileSplit(request, options) : RunTileCompile(request, options);
    }
    return runConversion(request, split);
}
}  // namespace

int RunBatch(const QStringList& arguments) {
    Request request;
    CommandReport& report = CommandReport::Current();
    // The options of every command may also stand before it.
    qsizetype at = 1;
    QString problem;
    while (at < arguments.size() && problem.isEmpty()) {
        const int taken = ParseCommonOption(arguments, at, request, problem);
        if (taken == 0) {
            break;
        }
        at += taken;
    }
    const QString command = arguments.value(at);
    if (problem.isEmpty() && (command == "--version")) {
        PrintOut(QStringLiteral("tilvex %1\n").arg(QStringLiteral(TILVEX_VERSION)));
        return ExitOk;
    }
    if (problem.isEmpty() && (command == "help" || (command.isEmpty() && request.help))) {
        PrintOut(QString::fromUtf8(MainHelp));
        return ExitOk;
    }
    const char* help = command == "split" ? SplitHelp : command == "compile" ? CompileHelp
                                          : command == "info"  ? InfoHelp
                                          : command == "extrude" ? ExtrudeHelp
                                          : command == "optimize" ? OptimizeHelp : nullptr;
    if (problem.isEmpty() && command.isEmpty()) {
        problem = QStringLiteral("no command given");
    } else if (problem.isEmpty() && help == nullptr) {
        problem = command.startsWith('-') ? QStringLiteral("unknown option %1 before the command").arg(command)
                                          : QStringLiteral("unknown command %1").arg(command);
    }
    if (problem.isEmpty()) {
        request.command = command;
        problem = ParseOptions(arguments.mid(at), request);
    }
    report.Begin(request, request.json);
    if (!problem.isEmpty()) {
        return report.Finish(report.RefuseUsage(problem));
    }
    if (request.help) {
        PrintOut(QString::fromUtf8(help));
        return report.Finish(ExitOk);
    }
    if (request.jobs) {
        UseThreads(*request.jobs);
    }
    if (const QString refused = RefuseOptionsOf(request); !refused.isEmpty()) {
        return report.Finish(report.RefuseUsage(refused));
    }
    return report.Finish(runCommand(request));
}
