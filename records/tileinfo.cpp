#include "records/tileinfo.h"

#include "runtime/numbers.h"
#include "runtime/paths.h"
#include "runtime/profile.h"
#include "runtime/runtimeerror.h"

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
