#include "tiled/worldfile.h"

#include "runtime/limits.h"
#include "runtime/wholefile.h"
#include "tiled/tiledvalues.h"
#include "tiled/tmjformat.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>
#include <cstdlib>

namespace {
// Positions and multipliers stay far inside int, so a world's bounds are summed without overflow.
constexpr int MostPosition = 1 << 28;
constexpr std::size_t MostMaps = 1 << 16;
// Steps a pattern may take on one file name (PCRE2's match limit): a name takes tens; a
// pattern that backtracks would take seconds on each.
constexpr int MostMatchSteps = 100000;

// A whole number within the limits as Tiled reads it (otherwise when absent).
int whole(const QString& file, const QJsonObject& o, const char* name, int least, int most, int otherwise) {
    const QJsonValue value = o.value(QLatin1String(name));
    if (value.isUndefined() || value.isNull()) {
        return otherwise;
    }
    const double number = value.toDouble(-1.0 * MostPosition * 4);
    // The range first: a cast of a number past it is undefined.
    if (!value.isDouble() || !(number >= least && number <= most) || number != std::floor(number)) {
        InvalidMapFile(file, QStringLiteral("%1 is not a whole number from %2 to %3").arg(QLatin1String(name)).arg(least).arg(most));
    }
    return static_cast<int>(number);
}

void add(const QString& file, TiledWorld& world, WorldMap map) {
    if (world.maps.size() >= MostMaps) {
        InvalidMapFile(file, QStringLiteral("the world places more than %1 maps").arg(MostMaps));
    }
    world.maps.push_back(std::move(map));
}
}  // namespace

TiledWorld ReadWorld(const QString& file, const QByteArray& bytes, const QStringList& folderFiles) {
    const QJsonObject root = ParseJsonObject(file, bytes);
    TiledWorld world;
    world.file = file;
    const QDir folder = QFileInfo(file).dir();
    for (const QJsonValue& value : root.value(QLatin1String("maps")).toArray()) {
        const QJsonObject o = value.toObject();
        const QString name = o.value(QLatin1String("fileName")).toString();
        if (name.isEmpty()) {
            InvalidMapFile(file, QStringLiteral("a map of the world has no fileName"));
        }
        add(file, world, WorldMap{QDir::cleanPath(folder.absoluteFilePath(name)),
                                  QPoint(whole(file, o, "x", -MostPosition, MostPosition, 0), whole(file, o, "y", -MostPosition, MostPosition, 0)),
                                  QSize(whole(file, o, "width", 0, MostPosition, 0), whole(file, o, "height", 0, MostPosition, 0))});
    }
    for (const QJsonValue& value : root.value(QLatin1String("patterns")).toArray()) {
        const QJsonObject o = value.toObject();
        const QString text = o.value(QLatin1String("regexp")).toString();
        const QRegularExpression pattern(QStringLiteral("(*LIMIT_MATCH=%1)").arg(MostMatchSteps) + text);
        if (!pattern.isValid() || pattern.captureCount() != 2) {
            InvalidMapFile(file, QStringLiteral("the pattern %1 is not a regular expression with two captures (column, row)").arg(text));
        }
        const int multiplierX = whole(file, o, "multiplierX", -MostPosition, MostPosition, 1);
        const int multiplierY = whole(file, o, "multiplierY", -MostPosition, MostPosition, 1);
        if (multiplierX == 0 || multiplierY == 0) {
            InvalidMapFile(file, QStringLiteral("the pattern %1 has a multiplier of 0").arg(text));
        }
        const QPoint offset(whole(file, o, "offsetX", -MostPosition, MostPosition, 0), whole(file, o, "offsetY", -MostPosition, MostPosition, 0));
        const QSize size(whole(file, o, "mapWidth", 1, MostPosition, std::abs(multiplierX)),
                         whole(file, o, "mapHeight", 1, MostPosition, std::abs(multiplierY)));
        for (const QString& name : folderFiles) {
            const QRegularExpressionMatch match = pattern.match(name);
            if (!match.isValid()) {
                // The match gave up: saying the name does not match would be untrue.
                InvalidMapFile(file, QStringLiteral("the pattern %1 takes more than %2 steps to match the file name %3: it "
                                                    "backtracks; write it so that each name has one way to match")
                                         .arg(text).arg(MostMatchSteps).arg(name));
            }
            if (!match.hasMatch()) {
                continue;
            }
            // Tiled reads a capture that is no number as 0.
            const std::int64_t x = std::int64_t{match.captured(1).toInt()} * multiplierX + offset.x();
            const std::int64_t y = std::int64_t{match.captured(2).toInt()} * multiplierY + offset.y();
            if (std::abs(x) > MostPosition || std::abs(y) > MostPosition) {
                InvalidMapFile(file, QStringLiteral("the pattern %1 places %2 at %3,%4, past %5 pixels")
                                         .arg(text, name).arg(x).arg(y).arg(MostPosition));
            }
            add(file, world, WorldMap{QDir::cleanPath(folder.absoluteFilePath(name)), QPoint(static_cast<int>(x), static_cast<int>(y)), size});
        }
    }
    if (world.maps.empty()) {
        InvalidMapFile(file, QStringLiteral("the world holds no maps"));
    }
    return world;
}

TiledWorld LoadWorld(const QString& path) {
    const QString file = QFileInfo(path).absoluteFilePath();
    std::vector<unsigned char> data;
    ReadWholeFile(file, data);
    const QByteArray bytes(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
    // As Tiled lists them: readable files, by name ignoring case.
    const QStringList names = QFileInfo(file).dir().entryList(QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase);
    return ReadWorld(file, bytes, names);
}
