#include "batchoptions.h"

#include "records/tileinfo.h"
#include "runtime/numbers.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"
#include "runtime/userfolders.h"
#include "tiles/mapfile.h"

#include <QRegularExpression>

namespace {
const QStringList ValueOptions = {"--start",  "--width",   "--tile", "--margin",      "--spacing",
                                  "--format", "--tileset", "--map",  "--empty-colour", "--layer", "--out"};
const QStringList FlagOptions = {"--exact", "--keep-edges", "--unique", "--flips", "--skip-empty", "--hidden", "--dry-run"};

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
    options.unique = request.flags.contains("--unique");
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
        if (!IsMapFileName(*map)) {
            return bad("--map", *map, QStringLiteral("not a file name ending in .tmx, .tmj or .csv"));
        }
        options.map = *map;
    }
    if (request.command != "split") {
        return QString();
    }
    for (const char* name : {"--flips", "--skip-empty", "--map"}) {
        if (request.Has(name) && !options.unique) {
            return QStringLiteral("%1 needs --unique").arg(name);
        }
    }
    if (options.emptyColour && !options.skipEmpty) {
        return QStringLiteral("--empty-colour needs --skip-empty");
    }
    if (options.flips && options.map.endsWith(".csv", Qt::CaseInsensitive)) {
        return QStringLiteral("--map %1: a .csv map holds no flips; use .tmx or .tmj with --flips").arg(options.map);
    }
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
        const QString name = arg.section('=', 0, 0);
        if (arg == "--quiet" || arg == "-q") {
            request.quiet = true;
        } else if (arg == "--help" || arg == "-h") {
            request.help = true;
        } else if (FlagOptions.contains(arg)) {
            request.flags += arg;
        } else if (ValueOptions.contains(name)) {
            if (arg.contains('=')) {
                request.values[name] = arg.mid(name.size() + 1);
                request.given.emplace_back(name, request.values[name]);
            } else if (i + 1 < args.size()) {
                request.values[name] = args[++i];
                request.given.emplace_back(name, request.values[name]);
            } else {
                return QStringLiteral("%1 needs a value").arg(name);
            }
        } else if (arg.startsWith("--") && arg.size() > 2) {
            return QStringLiteral("unknown option %1").arg(arg);
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
    } else if (request.command == "optimize") {
        refused = {"--keep-edges", "--unique", "--skip-empty", "--empty-colour", "--layer", "--hidden", "--start", "--exact", "--tile",
                   "--margin", "--spacing", "--map"};
    } else if (request.command == "split") {
        refused = {"--width", "--exact", "--layer", "--hidden"};
    } else if (request.Has("--map")) {
        // The map and its tileset say where and how big the tiles are.
        refused = {"--keep-edges", "--unique", "--flips", "--skip-empty", "--start", "--width", "--exact", "--tile",
                   "--margin", "--spacing"};
    } else {
        refused = {"--keep-edges", "--unique", "--flips", "--skip-empty", "--empty-colour", "--layer", "--hidden"};
    }
    if (request.command != "optimize") {
        refused += {"--out", "--dry-run"};
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
            return bad("--start", *start, QStringLiteral("not a number from -2147483648 to 2147483647"));
        }
    }

    QSize tile(32, 32);
    if (const auto text = request.Value("--tile")) {
        const QStringList sides = text->split('x');
        const auto width = wholeNumber(sides.value(0), 1, TileGrid::MaxSide);
        const auto height = sides.size() == 2 ? wholeNumber(sides[1], 1, TileGrid::MaxSide) : width;
        if (sides.size() > 2 || !width || !height) {
            return bad("--tile", *text, QStringLiteral("not WxH or N with sides from 1 to %1").arg(TileGrid::MaxSide));
        }
        tile = QSize(*width, *height);
    }
    int gaps[2] = {0, 0};
    const char* gapNames[2] = {"--margin", "--spacing"};
    for (int i = 0; i < 2; ++i) {
        if (const auto text = request.Value(gapNames[i])) {
            const auto value = wholeNumber(*text, 0, TileGrid::MaxSide);
            if (!value) {
                return bad(gapNames[i], *text, QStringLiteral("not a whole number from 0 to %1").arg(TileGrid::MaxSide));
            }
            gaps[i] = *value;
        }
    }
    options.grid = TileGrid(tile, gaps[0], gaps[1]);

    if (const auto format = request.Value("--format")) {
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
            options.width = wholeNumber(width->trimmed(), 1, 1 << 17);
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

    options.tiled = options.unique || !options.map.isEmpty() || request.Has("--tile") || request.Has("--margin") || request.Has("--spacing") ||
                    options.format == TileFormat::Png || request.Has("--exact") || options.autoWidth ||
                    options.keepEdges || !options.tileset.isEmpty();
    const bool sheet = (options.tiled && request.command == "compile") || request.command == "optimize";
    if (sheet && request.Value("--width") && !options.autoWidth &&
        !options.width) {
        return bad("--width", *request.Value("--width"),
                   QStringLiteral("not a whole number of columns from 1 to %1, or auto").arg(1 << 17));
    }
    return QString();
}
