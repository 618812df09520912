#include "tiles/tilefolder.h"

#include "runtime/numbers.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"

#include <QDir>

namespace {
int rank(const QString& suffix, TileFormat preferred) {
    const QString lower = suffix.toLower();
    if (lower == TileSuffix(preferred).mid(1)) {
        return 0;
    }
    return lower == "png" || lower == "bmp" ? 1 : 2;
}
}  // namespace

TileFolder::TileFolder(const QString& folder, TileFormat preferred)
    : folder_(EndsWithSeparator(folder) ? folder : folder + PathSeparator()) {
    const QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
    for (const QString& name : names) {
        const qsizetype dot = name.lastIndexOf('.');
        if (dot <= 0) {
            continue;
        }
        const QString stem = name.left(dot);
        bool ok = false;
        const int number = stem.toInt(&ok);
        // Only the names that NumberText makes: no sign but "-", no leading zeros.
        if (!ok || NumberText(number) != stem) {
            continue;
        }
        const auto found = names_.constFind(number);
        if (found == names_.cend() ||
            rank(name.mid(dot + 1), preferred) < rank(found->mid(found->lastIndexOf('.') + 1), preferred)) {
            names_.insert(number, name);
        }
    }
}

QString TileFolder::Path(std::int32_t number) const {
    const auto found = names_.constFind(number);
    if (found == names_.cend()) {
        const QString pattern = folder_ + NumberText(number) + ".*";
        throw RuntimeError(Err::FileNotFound, QStringLiteral("%1: %2").arg(pattern, ErrorDescription(Err::FileNotFound)),
                           pattern);
    }
    return folder_ + *found;
}
