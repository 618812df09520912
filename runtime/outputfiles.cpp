#include "runtime/outputfiles.h"

#include "runtime/atomicfile.h"
#include "runtime/destination.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include <sys/stat.h>

QString OutputFiles::File(const QString& path, bool makeFolder) {
    if (path.isEmpty()) {
        return path;
    }
    const QString target = LinkTarget(path);
    RefuseSpecialFile(target);
    if (makeFolder) {
        Folder(QFileInfo(target).absolutePath());
    }
    claimed_ += target;
    return target;
}

void OutputFiles::Folder(const QString& folder) {
    MakeFolders(folder);
    RemoveLeftovers(ToFsPath(folder));
}

void OutputFiles::RefuseInputs() const {
    QStringList inputs = inputs_;
    inputs.removeAll(QString());
    RefuseInputsAsDestinations(claimed_, inputs);
}

bool OutputFiles::SameFile(const QString& a, const QString& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(ToFsPath(a).c_str(), &first) == 0 && ::stat(ToFsPath(b).c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

namespace {
// The path as the file system names it, folders resolved where they exist.
QString realPath(const QString& path) {
    const QFileInfo info(path);
    const QString real = info.canonicalFilePath();
    return real.isEmpty() ? info.absoluteFilePath() : real;
}
}  // namespace

bool OutputFiles::Holds(const QString& folder, const QString& file) {
    // The root folder ends in its separator already.
    QString inside = realPath(folder);
    if (!inside.endsWith('/')) {
        inside += '/';
    }
    return realPath(file).startsWith(inside);
}

QString OutputFiles::InterimName(const QString& path, int which) {
    const QFileInfo info(path);
    return info.dir().filePath(info.completeBaseName() + (which == 1 ? ".tilvex-interim." : ".tilvex-interim2.") + info.suffix());
}

int OutputFiles::FreeInterim(const QStringList& paths) {
    for (const QString& path : paths) {
        if (QFileInfo::exists(InterimName(path, 1))) {
            return 2;
        }
    }
    return 1;
}

void OutputFiles::SheetAndTileset(const QString& sheet, const QString& tileset,
                                  const std::function<void(const QString&)>& writeSheet,
                                  const std::function<void(const QString&)>& writeTileset) {
    if (!QFileInfo::exists(sheet) || !QFileInfo::exists(tileset)) {
        writeSheet(sheet);
        writeTileset(sheet);
        return;
    }
    const QString interim = InterimName(sheet, FreeInterim({sheet}));
    writeSheet(interim);
    writeTileset(interim);
    // A second name of the new sheet replaces the old one; the tileset keeps the interim
    // name until it leaves it. The second name is a hidden one a later run removes.
    const std::filesystem::path from = ToFsPath(interim);
    const std::filesystem::path second = from.parent_path() / (".tilvex-" + std::to_string(::getpid()) + "-pair.tmp");
    if (::link(from.c_str(), second.c_str()) != 0 || ::rename(second.c_str(), ToFsPath(sheet).c_str()) != 0) {
        const int failure = errno;
        ::unlink(second.c_str());
        RaiseWriteErrno(failure, sheet);
    }
    writeTileset(sheet);
    for (const int which : {1, 2}) {
        ::unlink(ToFsPath(InterimName(sheet, which)).c_str());
    }
}
