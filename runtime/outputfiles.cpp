#include "runtime/outputfiles.h"

#include "runtime/atomicfile.h"
#include "runtime/destination.h"
#include "runtime/paths.h"

#include <QFileInfo>

#include <sys/stat.h>

QString OutputFiles::File(const QString& path) {
    if (path.isEmpty()) {
        return path;
    }
    const QString target = LinkTarget(path);
    RefuseSpecialFile(target);
    Folder(QFileInfo(target).absolutePath());
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

bool OutputFiles::Holds(const QString& folder, const QString& file) { return realPath(file).startsWith(realPath(folder) + "/"); }
