#include "sheets/tilefolder.h"

#include "runtime/numbers.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"
#include "sheets/tileformat.h"

#include <QDir>
#include <QDirIterator>

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
    // An iterator, not a sorted list: a sorted list holds every entry's file info at once,
    // about a kilobyte a tile, which is most of the memory a folder of a million tiles takes.
    QDirIterator entries(folder, QDir::Files);
    while (entries.hasNext()) {
        entries.next();
        const QString name = entries.fileName();
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
        if (found == names_.cend()) {
            names_.insert(number, name);
            continue;
        }
        const int ours = rank(name.mid(dot + 1), preferred);
        const int theirs = rank(found->mid(found->lastIndexOf('.') + 1), preferred);
        if (ours < theirs || (ours == theirs && name < *found)) {
            names_.insert(number, name);
        }
    }
}

QString TileFolder::Path(std::int32_t number) const {
    const auto found = names_.constFind(number);
    if (found == names_.cend()) {
        const QString pattern = folder_ + NumberText(number) + ".*";
        RaiseError(Err::FileNotFound, pattern);
    }
    return folder_ + *found;
}
