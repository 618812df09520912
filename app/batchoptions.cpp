#include "batchoptions.h"

#include "records/tileinfo.h"
#include "runtime/limits.h"
#include "runtime/numbers.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"
#include "runtime/userfolders.h"
#include "tiled/mapfile.h"
#include "tiled/worldfile.h"
#include "ldtk/ldtkproject.h"

#include <QRegularExpression>

#include <algorithm>
#include <limits>

namespace {
const QStringList ValueOptions = {"--start",  "--width",   "--tile", "--margin",      "--spacing",
                                  "--format", "--tileset", "--map",  "--empty-colour", "--layer", "--extrude", "--out",
                                  "--scale", "--tilesize", "--size", "--hide-layer", "--show-layer", "--advance-animations", "--to", "--name",
                                  "--layout", "--level"};
const QStringList FlagOptions = {"--exact", "--keep-edges", "--unique", "--flips", "--skip-empty", "--hidden", "--dry-run",
                                 "--ignore-visibility", "--anti-aliasing", "--smoothing", "--animate"};
// Options that name one more thing each time they are given.
const QStringList RepeatableOptions = {"--layer", "--hide-layer", "--show-layer"};
// tmxrasterizer's options, which only compile --map takes.
const QStringList DrawingOptions = {"--scale", "--tilesize", "--size", "--hide-layer", "--show-layer", "--ignore-visibility",
                                    "--anti-aliasing", "--smoothing", "--animate", "--advance-animations", "--level"};
const QStringList CommonOptions = {"--quiet", "--json", "--jobs", "--help"};

// Edits that turn one word into the other (letters put in, taken out or changed).
qsizetype editDistance(const QString& a, const QString& b) {
    QList<qsizetype> row(b.size() + 1);
    for (qsizetype j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (qsizetype i = 1; i <= a.size(); ++i) {
        qsizetype diagonal = row[0];
        row[0] = i;
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const qsizetype above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// "unknown option X", with the option that was most likely meant.
QString unknownOption(const QString& given) {
    const QString name = given.section('=', 0, 0);
    QString best;
    qsizetype bestDistance = 3;
    for (const QString& known : ValueOptions + FlagOptions + CommonOptions) {
        // A lone letter is the first of a long name, as other tools spell the short forms.
        const qsizetype distance = name.size() == 2 ? (known[2] == name[1] ? 1 : 9) : editDistance(name, known);
        if (distance < bestDistance) {
            best = known;
            bestDistance = distance;
        }
    }
    const QString text = QStringLiteral("unknown option %1").arg(given);
    return best.isEmpty() ? text : text + QStringLiteral("; did you mean %1?").arg(best);
}

// A dash and a letter or more that is no number (--start -3 takes its value in the next word).
bool looksLikeOption(const QString& arg) {
    bool number = false;
    arg.toDouble(&number);
    return arg.size() > 1 && arg.startsWith('-') && !number;
}

// A whole number in plain digits, within the bounds.
std::optional<int> wholeNumber(const QString& text, int least, int most) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(text).hasMatch()) {
        return std::nullopt;
    }
    const int value = text.toInt();
    return value < least || value > most ? std::nullopt : std::optional<int>(value);
}

QString bad(const QString& option, const QString& text, const QString& expected) {
    return QStringLiteral("%1 %2: %3").arg(option, text.isEmpty() ? QStringLiteral("\"\"") : text, expected);
}

// The options of distinct tiles and maps, and the ones they need.
QString readMapOptions(const Request& request, TileOptions& options) {
    // A map or flips of a split only mean something of distinct tiles.
    options.unique = request.flags.contains("--unique") ||
                     (request.command == "split" && (request.Has("--map") || request.Has("--flips")));
    options.flips = request.flags.contains("--flips");
    options.skipEmpty = request.flags.contains("--skip-empty");
    if (const auto colour = request.Value("--empty-colour")) {
        static const QRegularExpression hex(QStringLiteral("^#?[0-9a-fA-F]{6}$"));
        if (!hex.match(*colour).hasMatch()) {
            return bad("--empty-colour", *colour, QStringLiteral("not a colour RRGGBB in hexadecimal"));
        }
        options.emptyColour = QString(*colour).remove('#').toUInt(nullptr, 16) | 0xFF000000u;
    }
    if (const auto map = request.Value("--map")) {
        if (!IsMapFileName(*map) && !IsWorldName(*map) && !IsLdtkName(*map)) {
            return bad("--map", *map, QStringLiteral("not a file name ending in .tmx, .tmj, .json, .csv, .world or .ldtk"));
        }
        if (IsWorldName(*map) && request.command != "compile") {
            return bad("--map", *map, QStringLiteral("a world is only drawn (compile --map); split writes one map"));
        }
        if (IsLdtkName(*map) && request.command != "compile") {
            return bad("--map", *map, QStringLiteral("an LDtk project is only drawn (compile --map); split writes Tiled maps"));
        }
        options.map = *map;
    }
    if (const auto scale = request.Value("--scale")) {
        bool ok = false;
        const double value = scale->toDouble(&ok);
        if (!ok || !(value > 0) || value > 64) {
            return bad("--scale", *scale, QStringLiteral("not a scale above 0 and up to 64"));
        }
    }
    for (const char* name : {"--tilesize", "--size"}) {
        if (const auto size = request.Value(name); size && !wholeNumber(*size, 1, Limits::PictureSide)) {
            return bad(name, *size, QStringLiteral("not a whole number of pixels from 1 to %1").arg(Limits::PictureSide));
        }
    }
    if (request.command != "split") {
        return QString();
    }
    if (request.Has("--skip-empty") && !options.unique) {
        return QStringLiteral("--skip-empty needs --unique (or --map)");
    }
    if (options.emptyColour && !options.skipEmpty) {
        return QStringLiteral("--empty-colour needs --skip-empty");
    }
    if (options.flips && options.map.endsWith(".csv", Qt::CaseInsensitive)) {
        return QStringLiteral("--map %1: a .csv map holds no flips; use .tmx or .tmj with --flips").arg(options.map);
    }
    return QString();
}

// --extrude N: the tileset's new margin M + N and spacing S + 2N must still be a grid.
QString readExtrusion(const Request& request, TileOptions& options) {
    const auto text = request.Value("--extrude");
    options.extrude = request.command == "extrude" ? 1 : 0;
    if (!text) {
        return QString();
    }
    const auto value = wholeNumber(*text, 1, Limits::TileSide);
    if (!value) {
        return bad("--extrude", *text, QStringLiteral("not a whole number from 1 to %1").arg(Limits::TileSide));
    }
    const TileGrid& grid = options.grid;
    if (grid.Margin() + *value > Limits::TileSide || grid.Spacing() + 2 * *value > Limits::TileSide) {
        return bad("--extrude", *text, QStringLiteral("makes a margin of %1 and a spacing of %2, past %3")
                                           .arg(grid.Margin() + *value)
                                           .arg(grid.Spacing() + 2 * *value)
                                           .arg(Limits::TileSide));
    }
    options.extrude = *value;
    return QString();
}
}  // namespace

QString StartupWidth() {
    return NumberText(ParseNumber(GetVar(StartupInfoFile(), "MAIN", "Width")));
}

std::optional<QString> Request::Value(const QString& name) const {
    const auto found = values.constFind(name);
    return found == values.cend() ? std::nullopt : std::optional<QString>(*found);
}

int ParseCommonOption(const QStringList& args, qsizetype at, Request& request, QString& problem) {
    const QString& arg = args[at];
    if (arg == "--quiet" || arg == "-q") {
        request.quiet = true;
        return 1;
    }
    if (arg == "--help" || arg == "-h") {
        request.help = true;
        return 1;
    }
    if (arg == "--json") {
        request.json = true;
        return 1;
    }
    const QString name = arg.section('=', 0, 0);
    if (name != "--jobs" && arg != "-j") {
        return 0;
    }
    const bool joined = arg.contains('=');
    if (!joined && at + 1 >= args.size()) {
        problem = QStringLiteral("%1 needs a value").arg(arg);
        return 1;
    }
    const QString text = joined ? arg.mid(name.size() + 1) : args[at + 1];
    if (request.jobs) {
        problem = QStringLiteral("--jobs given twice; give it once");
    } else if (const auto jobs = wholeNumber(text, 1, 1024)) {
        request.jobs = *jobs;
    } else {
        problem = bad("--jobs", text, QStringLiteral("not a number of threads from 1 to 1024"));
    }
    return joined ? 1 : 2;
}

QStringList Request::All(const QString& name) const {
    QStringList all;
    for (const auto& [option, value] : given) {
        if (option == name) {
            all += value;
        }
    }
    return all;
}

QString ParseOptions(const QStringList& args, Request& request) {
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == "--") {
            request.operands += args.mid(i + 1);
            break;
        }
        QString problem;
        if (const int taken = ParseCommonOption(args, i, request, problem)) {
            if (!problem.isEmpty()) {
                return problem;
            }
            i += taken - 1;
            continue;
        }
        const QString name = arg.section('=', 0, 0);
        if (FlagOptions.contains(arg)) {
            request.flags += arg;
        } else if (ValueOptions.contains(name)) {
            if (!arg.contains('=') && i + 1 >= args.size()) {
                return QStringLiteral("%1 needs a value").arg(name);
            }
            const QString value = arg.contains('=') ? arg.mid(name.size() + 1) : args[++i];
            // The last of two would win unseen; a script that says both means neither for sure.
            const auto earlier = request.Value(name);
            if (earlier && !RepeatableOptions.contains(name)) {
                return QStringLiteral("%1 given twice (%2 and %3); give it once").arg(name, *earlier, value);
            }
            request.values[name] = value;
            request.given.emplace_back(name, value);
        } else if (looksLikeOption(arg)) {
            return unknownOption(arg);
        } else {
            request.operands += arg;
        }
    }
    return QString();
}

QString RefuseOptionsOf(const Request& request) {
    QStringList refused;
    if (request.command == "info") {
        refused = ValueOptions + FlagOptions;
    } else if (request.command == "extrude") {
        // The sheet's grid, or the tileset's, is all an extrusion takes.
        refused = ValueOptions + FlagOptions;
        for (const char* taken : {"--tile", "--margin", "--spacing", "--extrude"}) {
            refused.removeAll(QString::fromLatin1(taken));
        }
    } else if (request.command == "export") {
        refused = ValueOptions + FlagOptions;
        for (const char* taken : {"--to", "--out", "--extrude", "--name"}) {
            refused.removeAll(QString::fromLatin1(taken));
        }
    } else if (request.command == "autotile") {
        refused = ValueOptions + FlagOptions;
        for (const char* taken : {"--layout", "--out", "--tile", "--name"}) {
            refused.removeAll(QString::fromLatin1(taken));
        }
    } else if (request.command == "optimize") {
        refused = {"--keep-edges", "--unique", "--skip-empty", "--empty-colour", "--layer", "--hidden", "--start", "--exact", "--tile",
                   "--margin", "--spacing", "--map"};
    } else if (request.command == "split") {
        refused = {"--width", "--exact", "--layer", "--hidden", "--extrude"};
    }
    if (request.command != "compile") {
        refused += DrawingOptions;
    }
    if (request.command == "compile" && request.Has("--map")) {
        if (const auto time = request.Value("--advance-animations"); time && !wholeNumber(*time, 0, std::numeric_limits<int>::max())) {
            return QStringLiteral("--advance-animations takes whole milliseconds from 0, not '%1'").arg(*time);
        }
        // The map and its tileset say where and how big the tiles are.
        for (const char* name : {"--keep-edges", "--unique", "--flips", "--skip-empty", "--start", "--width", "--exact",
                                 "--tile", "--margin", "--spacing", "--extrude"}) {
            if (request.Has(name)) {
                return QStringLiteral("%1 conflicts with --map: compile --map draws the map's cells with its tileset's "
                                      "tiles").arg(name);
            }
        }
    }
    if (request.command == "compile" && !request.Has("--map")) {
        refused += QStringList{"--keep-edges", "--unique", "--flips", "--skip-empty", "--empty-colour", "--layer", "--hidden"} + DrawingOptions;
    }
    if (request.command != "optimize" && request.command != "export" && request.command != "autotile") {
        refused += {"--out", "--dry-run"};
    }
    if (request.command != "export" && request.command != "autotile") {
        refused += {"--to", "--name"};
    }
    if (request.command != "autotile") {
        refused += QStringLiteral("--layout");
    }
    for (const QString& name : refused) {
        if (request.Has(name)) {
            return QStringLiteral("%1 takes no %2").arg(request.command, name);
        }
    }
    return QString();
}

QString ReadTileOptions(const Request& request, TileOptions& options) {
    if (const auto start = request.Value("--start")) {
        try {
            options.start = RoundToLong(StrictNumber(*start));
        } catch (const RuntimeError&) {
            return bad("--start", *start,
                       QStringLiteral("not a number from %1 to %2").arg(-Limits::TileNumber - 1).arg(Limits::TileNumber));
        }
    }

    QSize tile(32, 32);
    if (const auto text = request.Value("--tile")) {
        const QStringList sides = text->split('x');
        const auto width = wholeNumber(sides.value(0), 1, Limits::TileSide);
        const auto height = sides.size() == 2 ? wholeNumber(sides[1], 1, Limits::TileSide) : width;
        if (sides.size() > 2 || !width || !height) {
            return bad("--tile", *text, QStringLiteral("not WxH or N with sides from 1 to %1").arg(Limits::TileSide));
        }
        tile = QSize(*width, *height);
    }
    int gaps[2] = {0, 0};
    const char* gapNames[2] = {"--margin", "--spacing"};
    for (int i = 0; i < 2; ++i) {
        if (const auto text = request.Value(gapNames[i])) {
            const auto value = wholeNumber(*text, 0, Limits::TileSide);
            if (!value) {
                return bad(gapNames[i], *text, QStringLiteral("not a whole number from 0 to %1").arg(Limits::TileSide));
            }
            gaps[i] = *value;
        }
    }
    options.grid = TileGrid(tile, gaps[0], gaps[1]);
    for (const char* name : {"--tile", "--margin", "--spacing"}) {
        if (options.gridOption.isEmpty() && request.Has(name)) {
            options.gridOption = QString::fromLatin1(name);
        }
    }
    if (const QString problem = readExtrusion(request, options); !problem.isEmpty()) {
        return problem;
    }

    if (const auto format = request.Value("--format")) {
        options.formatText = *format;
        if (format->compare("png", Qt::CaseInsensitive) == 0) {
            options.format = TileFormat::Png;
        } else if (format->compare("bmp", Qt::CaseInsensitive) != 0) {
            return bad("--format", *format, QStringLiteral("not png or bmp"));
        }
    }

    if (const auto width = request.Value("--width")) {
        options.autoWidth = width->compare("auto", Qt::CaseInsensitive) == 0;
        if (!options.autoWidth) {
            // The window's width box takes any number; an exact sheet needs whole columns.
            try {
                StrictNumber(*width);
            } catch (const RuntimeError&) {
                return bad("--width", *width, QStringLiteral("not a number or auto"));
            }
            options.width = wholeNumber(width->trimmed(), 1, Limits::PictureSide);
        }
    }
    options.keepEdges = request.flags.contains("--keep-edges");
    if (const auto tileset = request.Value("--tileset")) {
        if (!tileset->endsWith(".tsx", Qt::CaseInsensitive) || tileset->size() <= 4) {
            return bad("--tileset", *tileset, QStringLiteral("not a file name ending in .tsx"));
        }
        options.tileset = *tileset;
    }

    if (const QString problem = readMapOptions(request, options); !problem.isEmpty()) {
        return problem;
    }

    options.tiled = options.extrude > 0 || options.unique || !options.map.isEmpty() || request.Has("--tile") || request.Has("--margin") || request.Has("--spacing") ||
                    options.format == TileFormat::Png || request.Has("--exact") || options.autoWidth ||
                    options.keepEdges || !options.tileset.isEmpty();
    const bool sheet = (options.tiled && request.command == "compile") || request.command == "optimize";
    if (sheet && request.Value("--width") && !options.autoWidth &&
        !options.width) {
        return bad("--width", *request.Value("--width"),
                   QStringLiteral("not a whole number of columns from 1 to %1, or auto").arg(Limits::PictureSide));
    }
    return QString();
}
