#include "records/tileinfo.h"

#include "runtime/numbers.h"
#include "runtime/paths.h"
#include "runtime/profile.h"
#include "runtime/runtimeerror.h"

#include <algorithm>
#include <cerrno>

namespace {
constexpr int kBufferSize = 500;
}

QString GetVar(const QString& File, const QString& Header, const QString& Var) {
    QString buffer(kBufferSize, QLatin1Char(' '));
    GetPrivateProfileString(Header, Var, QString(), buffer, kBufferSize, File);
    // The reader ends the value with a NUL; the blanks after it are the unused buffer.
    qsizetype end = buffer.size();
    while (end > 0 && buffer[end - 1] == QLatin1Char(' ')) {
        --end;
    }
    // Drop the terminator; the value's own trailing blanks stand before it and stay.
    return buffer.left(end > 0 ? end - 1 : 0);
}

bool WriteVar(const QString& File, const QString& Header, const QString& Var, const QString& Value) {
    return WritePrivateProfileString(Header, Var, Value, File);
}

QString TileInfoFile(const QString& folder) {
    return (EndsWithSeparator(folder) ? folder : folder + PathSeparator()) + QStringLiteral("info.ini");
}

QString ReadTileCount(const QString& folder) {
    return GetVar(TileInfoFile(folder), QStringLiteral("MAIN"), QStringLiteral("NumFiles"));
}

void WriteTileCount(const QString& folder, std::int64_t count) {
    const QString file = TileInfoFile(folder);
    if (!WriteVar(file, QStringLiteral("MAIN"), QStringLiteral("NumFiles"), NumberText(static_cast<double>(count)))) {
        RaiseErrno(errno, file);
    }
}

namespace {
const char* const GridKeys[] = {"TileWidth", "TileHeight", "Margin", "Spacing", "Format", "Columns"};
}

void WriteTileGrid(const QString& folder, const RecordedGrid& grid) {
    const QString file = TileInfoFile(folder);
    const bool any = grid.tileWidth > 0;
    const QString values[] = {any ? QString::number(grid.tileWidth) : QString(), any ? QString::number(grid.tileHeight) : QString(),
                              any ? QString::number(grid.margin) : QString(),    any ? QString::number(grid.spacing) : QString(),
                              any ? grid.format : QString(),                     any && grid.columns > 0 ? QString::number(grid.columns) : QString()};
    for (int k = 0; k < 6; ++k) {
        // A key not there stays away rather than be written empty.
        if (values[k].isEmpty() && GetVar(file, QStringLiteral("MAIN"), QLatin1String(GridKeys[k])).isEmpty()) {
            continue;
        }
        if (!WriteVar(file, QStringLiteral("MAIN"), QLatin1String(GridKeys[k]), values[k])) {
            RaiseErrno(errno, file);
        }
    }
}

std::optional<RecordedGrid> ReadTileGrid(const QString& folder) {
    const QString file = TileInfoFile(folder);
    int numbers[6] = {};
    for (int k : {0, 1, 2, 3, 5}) {
        bool ok = false;
        numbers[k] = GetVar(file, QStringLiteral("MAIN"), QLatin1String(GridKeys[k])).toInt(&ok);
        if (!ok) {
            numbers[k] = -1;
        }
    }
    const QString format = GetVar(file, QStringLiteral("MAIN"), QStringLiteral("Format")).toLower();
    if (numbers[0] <= 0 || numbers[1] <= 0 || numbers[2] < 0 || numbers[3] < 0 || (format != "png" && format != "bmp")) {
        return std::nullopt;
    }
    return RecordedGrid{numbers[0], numbers[1], numbers[2], numbers[3], format, std::max(numbers[5], 0)};
}
