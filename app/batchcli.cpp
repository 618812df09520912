#include "batchcli.h"

#include "batchio.h"
#include "batchoptions.h"
#include "commandreport.h"
#include "helptexts.h"
#include "progressbar.h"
#include "summaries.h"

#include "commands/autotile.h"
#include "commands/compile.h"
#include "commands/drawmap.h"
#include "commands/export.h"
#include "commands/extrude.h"
#include "commands/info.h"
#include "commands/optimize.h"
#include "commands/split.h"
#include "runtime/parallel.h"

#include "records/tileinfo.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace {
QString optionText(const Request& request, const char* name, const QString& otherwise) {
    return request.Value(QString::fromLatin1(name)).value_or(otherwise);
}

// Runs a command with the progress bar shown while it goes on (a terminal, not --quiet): the
// window's way tells its progress itself, the tile commands' parallel loops are followed.
template <typename Run>
auto withProgress(const Request& request, bool followLoops, Run&& run) {
    ProgressBar bar(!request.quiet && ::isatty(STDERR_FILENO));
    if (followLoops) {
        bar.FollowParallelWork();
    }
    auto result = run([&](long long done, long long total) { bar.Show(done, total); });
    bar.End();
    return result;
}

// Takes the result into the report and prints its summary line where the run went well.
template <typename Result, typename Line>
int report(const Request& request, const Result& result, Line&& line) {
    const int status = CommandReport::Current().Take(result);
    if (status == ExitOk && !request.quiet) {
        PrintOut(line() + "\n");
    }
    return status;
}

int runInfo(const Request& request) {
    const InfoResult result = RunInfo({request.operands});
    CommandReport::Current().Take(result);
    int status = ExitOk;
    for (const FileInfo& info : result.files) {
        if (info.failure) {
            CommandReport::Current().Tell(*info.failure, info.file);
            status = ExitFailure;
        } else {
            PrintOut(InfoLines(info));
        }
    }
    return status;
}

int runSplit(const Request& request, const TileOptions& options) {
    SplitRequest split{request.operands[0], request.operands[1], options, optionText(request, "--start", "0"), StartupWidth(), {}};
    const SplitResult result = withProgress(request, options.tiled, [&](Progress progress) {
        split.progress = std::move(progress);
        return RunSplit(split);
    });
    return report(request, result, [&] { return SummaryLine(result); });
}

int runCompile(const Request& request, const TileOptions& options) {
    CompileRequest compile{request.operands[0], request.operands[1], options, optionText(request, "--start", "0"),
                           optionText(request, "--width", StartupWidth()), {}};
    const CompileResult result = withProgress(request, options.tiled, [&](Progress progress) {
        compile.progress = std::move(progress);
        return RunCompile(compile);
    });
    return report(request, result, [&] { return SummaryLine(result); });
}

int runDrawMap(const Request& request, const TileOptions& options) {
    // --layer and --hidden as before, under tmxrasterizer's names too.
    DrawMapRequest draw;
    draw.map = options.map;
    draw.destination = request.operands[0];
    draw.options = options;
    draw.hidden = request.Has("--hidden") || request.Has("--ignore-visibility");
    draw.layers = request.All("--layer") + request.All("--show-layer");
    draw.hide = request.All("--hide-layer");
    draw.scale = request.Value("--scale").value_or("1").toDouble();
    draw.tileSize = request.Value("--tilesize").value_or("0").toInt();
    draw.fitSize = request.Value("--size").value_or("0").toInt();
    draw.antialiasing = request.Has("--anti-aliasing");
    draw.smoothing = request.Has("--smoothing");
    draw.animate = request.Has("--animate");
    draw.animationTime = request.Value("--advance-animations").value_or("0").toLongLong();
    draw.level = request.Value("--level").value_or(QString());
    const DrawMapResult result = RunDrawMap(draw);
    return report(request, result, [&] { return SummaryLine(result, request.operands[0]); });
}

int runExtrude(const Request& request, const TileOptions& options) {
    const ExtrudeResult result = RunExtrude({request.operands[0], request.operands[1], options, request.Has("--tile")});
    return report(request, result, [&] { return SummaryLine(result, options.extrude); });
}

int runOptimize(const Request& request, const TileOptions& options) {
    const bool dryRun = request.Has("--dry-run");
    const OptimizeResult result = RunOptimize({request.operands, request.Value("--out").value_or(QString()), options, dryRun});
    return report(request, result, [&] { return SummaryLine(result, options.extrude, dryRun); });
}

int runExport(const Request& request, const TileOptions& options) {
    ExportRequest exportRequest{request.operands, Engine::Phaser, request.Value("--out").value_or(QString()), options.extrude,
                                request.Value("--name").value_or(QString())};
    const QString to = request.Value("--to").value_or(QString()).toLower();
    if (to.isEmpty()) {
        return RefuseRun(QStringLiteral("export needs --to phaser, godot or ldtk"));
    }
    if (to == "godot") {
        exportRequest.engine = Engine::Godot;
    } else if (to == "ldtk") {
        exportRequest.engine = Engine::Ldtk;
    } else if (to == "tiled") {
        exportRequest.engine = Engine::Tiled;
    } else if (to != "phaser") {
        return RefuseRun(QStringLiteral("--to %1: not phaser, godot, ldtk or tiled").arg(*request.Value("--to")));
    }
    const ExportResult result = RunExport(exportRequest);
    return report(request, result, [&] { return SummaryLine(result, request.Value("--out").value_or(QString()), options.extrude); });
}

int runAutotile(const Request& request, const TileOptions& options) {
    AutotileRequest autotile{request.operands[0], TerrainLayout::A2, request.Value("--out").value_or(QString()), 0,
                             request.Value("--name").value_or(QString())};
    const QString layout = request.Value("--layout").value_or(QString()).toLower();
    if (layout.isEmpty()) {
        return RefuseRun(QStringLiteral("autotile needs --layout a2 or quarters"));
    }
    if (layout == "quarters") {
        autotile.layout = TerrainLayout::Quarters;
    } else if (layout != "a2") {
        return RefuseRun(QStringLiteral("--layout %1: not a2 or quarters").arg(*request.Value("--layout")));
    }
    if (request.Has("--tile")) {
        const QSize tile = options.grid.Tile();
        if (tile.width() != tile.height()) {
            return RefuseRun(QStringLiteral("--tile %1: terrain tiles are square; give one side N").arg(*request.Value("--tile")));
        }
        autotile.tile = tile.width();
    }
    const AutotileResult result = RunAutotile(autotile);
    return report(request, result, [&] { return SummaryLine(result, request.Value("--out").value_or(QString())); });
}

// Whether the file holds a bitmap, by its first bytes.
bool holdsBitmap(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(2) == "BM";
}

// What compile takes without being told: the grid split recorded in the tile folder, PNG for
// a folder of PNG tiles, and the format of a sheet DEST names. Given options win; an empty
// text where all is well, else the usage problem.
QString addCompileDefaults(Request& request) {
    const QString& source = request.operands[0];
    const QString& destination = request.operands[1];
    const auto setDefault = [&](const char* name, const QString& value) {
        if (!request.Has(QString::fromLatin1(name))) {
            request.values[QString::fromLatin1(name)] = value;
        }
    };
    const QString suffix = QFileInfo(destination).suffix().toLower();
    if (IsSheetName(destination)) {
        const auto format = request.Value("--format");
        if (format && format->compare(suffix, Qt::CaseInsensitive) != 0) {
            return QStringLiteral("--format %1 conflicts with the sheet's name %2").arg(*format, destination);
        }
        setDefault("--format", suffix);
        // A named sheet is the exact grid: the window's canvas has no name of its own.
        if (!request.flags.contains("--exact")) {
            request.flags += QStringLiteral("--exact");
        }
    }
    if (const auto grid = ReadTileGrid(source)) {
        setDefault("--tile", QStringLiteral("%1x%2").arg(grid->tileWidth).arg(grid->tileHeight));
        setDefault("--margin", QString::number(grid->margin));
        setDefault("--spacing", QString::number(grid->spacing));
        setDefault("--format", grid->format);
        if (grid->columns > 0) {
            setDefault("--width", QString::number(grid->columns));
        }
    } else {
        const QString first = AsFolder(source) + request.Value("--start").value_or(QStringLiteral("0"));
        if (!QFileInfo::exists(first + ".bmp") && QFileInfo::exists(first + ".png")) {
            setDefault("--format", QStringLiteral("png"));
        }
    }
    return QString();
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
    if (command == "optimize" || command == "export") {
        if (request.operands.isEmpty()) {
            return report.RefuseUsage(QStringLiteral("%1 needs at least one MAP").arg(command));
        }
        TileOptions options;
        if (const QString bad = ReadTileOptions(request, options); !bad.isEmpty()) {
            return RefuseRun(bad);
        }
        return command == "export" ? runExport(request, options) : runOptimize(request, options);
    }
    if (command == "autotile") {
        if (const QString problem = operandProblem(request, {QStringLiteral("TEMPLATE")}); !problem.isEmpty()) {
            return report.RefuseUsage(problem);
        }
        TileOptions options;
        if (const QString bad = ReadTileOptions(request, options); !bad.isEmpty()) {
            return RefuseRun(bad);
        }
        return runAutotile(request, options);
    }
    const bool mapCompile = command == "compile" && request.Has("--map");
    const QString problem =
        mapCompile ? operandProblem(request, {QStringLiteral("DEST")})
                   : operandProblem(request, {QStringLiteral("SOURCE"), QStringLiteral("DEST")});
    if (!problem.isEmpty()) {
        return report.RefuseUsage(mapCompile ? "compile --map FILE: " + problem.section("; ", 1) : problem);
    }
    if (command == "compile" && !mapCompile) {
        if (const QString bad = addCompileDefaults(request); !bad.isEmpty()) {
            return report.RefuseUsage(bad);
        }
    }
    TileOptions options;
    if (const QString bad = ReadTileOptions(request, options); !bad.isEmpty()) {
        return RefuseRun(bad);
    }
    if (mapCompile) {
        return runDrawMap(request, options);
    }
    if (command == "extrude") {
        return runExtrude(request, options);
    }
    const bool split = command == "split";
    // A picture that is no .bmp by name can only be split the new way; a missing one gets
    // the window's message.
    const QString& source = request.operands[0];
    if (split && !options.tiled && !source.endsWith(".bmp") && QFileInfo(source).isFile()) {
        options.tiled = true;
    }
    // Tiles keep what the picture holds: alpha is lost in a bitmap.
    if (split && options.tiled && !options.FormatGiven() && QFileInfo(source).isFile() && !holdsBitmap(source)) {
        options.format = TileFormat::Png;
    }
    return split ? runSplit(request, options) : runCompile(request, options);
}
}  // namespace

int RunBatch(const QStringList& arguments, const QStringList& undecodable) {
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
    if (problem.isEmpty() && (command == "--version" || command == "-v")) {
        PrintOut(QStringLiteral("tilvex %1\n").arg(QStringLiteral(TILVEX_VERSION)));
        return ExitOk;
    }
    if (problem.isEmpty() && command == "help" && at + 1 < arguments.size()) {
        // "help CMD" is "CMD --help", as git and cargo have it.
        const QString topic = arguments[at + 1];
        if (const char* text = HelpOf(topic); text != nullptr && at + 2 == arguments.size()) {
            PrintOut(QString::fromUtf8(text));
            return ExitOk;
        }
        report.Begin(request, request.json);
        return report.Finish(report.RefuseUsage(at + 2 == arguments.size() ? QStringLiteral("no help for %1: not a command").arg(topic)
                                                                            : QStringLiteral("help takes one COMMAND")));
    }
    if (problem.isEmpty() && (command == "help" || (command.isEmpty() && request.help))) {
        PrintOut(QString::fromUtf8(MainHelp));
        return ExitOk;
    }
    const char* help = HelpOf(command);
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
    if (!undecodable.isEmpty()) {
        return report.Finish(report.Refuse(QStringLiteral("this name is not valid in the system's encoding (UTF-8), so the file it "
                                                          "names cannot be opened by it; rename the file"),
                                           undecodable.front()));
    }
    if (request.jobs) {
        UseThreads(*request.jobs);
    }
    if (const QString refused = RefuseOptionsOf(request); !refused.isEmpty()) {
        return report.Finish(report.RefuseUsage(refused));
    }
    return report.Finish(runCommand(request));
}
