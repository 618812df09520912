#include "runtime/paths.h"

#include "runtime/runtimeerror.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <fnmatch.h>
#include <sys/stat.h>

#include <cerrno>
#include <system_error>

namespace {
QString& programFolderOverride() {
    static QString folder;
    return folder;
}

bool isOrdinaryOrFolder(const std::filesystem::path& p, ListingKind kind) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) {
        return false;
    }
    if (S_ISREG(st.st_mode)) {
        return true;
    }
    return kind == ListingKind::FilesAndFolders && S_ISDIR(st.st_mode);
}
}  // namespace

QString PathSeparator() { return QStringLiteral("/"); }

bool EndsWithSeparator(const QString& path) { return path.endsWith(PathSeparator()); }

std::filesystem::path ToFsPath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

QString FromFsPath(const std::filesystem::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

QString ProgramFolder() {
    if (!programFolderOverride().isEmpty()) {
        return programFolderOverride();
    }
    return QCoreApplication::applicationDirPath();
}

void SetProgramFolder(const QString& folder) { programFolderOverride() = folder; }

QString PathListing(const QString& path, ListingKind kind) {
    const QByteArray bytes = QFile::encodeName(path);
    if (bytes.isEmpty()) {
        return QString();
    }
    const qsizetype cut = bytes.lastIndexOf('/');
    const QByteArray folder = cut < 0 ? QByteArray(".") : (cut == 0 ? QByteArray("/") : bytes.left(cut));
    const QByteArray pattern = bytes.mid(cut + 1);

    std::error_code ec;
    if (pattern.isEmpty()) {
        // A folder listing: with folders included, the folder itself counts ("." on Windows).
        if (kind == ListingKind::FilesAndFolders && std::filesystem::is_directory(folder.toStdString(), ec)) {
            return QStringLiteral(".");
        }
    }
    const bool wild = pattern.contains('*') || pattern.contains('?');
    if (!pattern.isEmpty() && !wild) {
        // The usual case: one exact name, no need to read the folder.
        if (pattern.startsWith('.') || pattern == "." || pattern == "..") {
            return QString();
        }
        return isOrdinaryOrFolder(bytes.toStdString(), kind) ? QFile::decodeName(pattern) : QString();
    }
    std::filesystem::directory_iterator it(folder.toStdString(), ec);
    if (ec) {
        return QString();
    }
    for (const auto& entry : it) {
        const std::string name = entry.path().filename().native();
        if (name.empty() || name[0] == '.') {
            continue;
        }
        if (!pattern.isEmpty() && ::fnmatch(pattern.constData(), name.c_str(), FNM_PERIOD) != 0) {
            continue;
        }
        if (isOrdinaryOrFolder(entry.path(), kind)) {
            return QFile::decodeName(QByteArray::fromStdString(name));
        }
    }
    return QString();
}

void MakeFolder(const QString& folder) {
    const std::filesystem::path path = ToFsPath(folder);
    if (::mkdir(path.c_str(), 0777) != 0) {
        const int failure = errno;
        // A folder that another run made meanwhile is as good as one made here.
        struct stat st {};
        if (failure == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            return;
        }
        if (failure == ENOENT) {
            throw RuntimeError(Err::PathNotFound, ErrorDescription(Err::PathNotFound), folder,
                               QStringLiteral("the folder it would be made in does not exist"));
        }
        RaiseErrno(failure, folder);
    }
}

void RefuseSourceAmongTiles(const QString& source, const QString& folder, std::int64_t first, std::int64_t count,
                            const QString& suffix) {
    const std::filesystem::path sourcePath = ToFsPath(source);
    const std::filesystem::path sourceFolder = sourcePath.has_parent_path() ? sourcePath.parent_path() : ".";
    struct stat a {};
    struct stat b {};
    if (::stat(sourceFolder.c_str(), &a) != 0 || ::stat(ToFsPath(folder).c_str(), &b) != 0 || a.st_dev != b.st_dev ||
        a.st_ino != b.st_ino) {
        return;
    }
    const QString name = QString::fromStdString(sourcePath.filename().string());
    if (!name.endsWith(suffix)) {
        return;
    }
    const QString stem = name.chopped(suffix.size());
    bool whole = false;
    const qlonglong number = stem.toLongLong(&whole);
    // A tile's name is its number as NumberText writes it, so "007" or "+7" is no tile.
    if (whole && QString::number(number) == stem && number >= first && number < first + count) {
        throw RuntimeError(Err::PathFileAccess,
                           QStringLiteral("%1 (the source would be overwritten by a tile)").arg(ErrorDescription(Err::PathFileAccess)));
    }
}

void MakeFolders(const QString& folder) {
    const QFileInfo info(folder);
    // A file in the way is left for the write to report, naming what it meant to write.
    if (folder.isEmpty() || info.exists()) {
        return;
    }
    const QString parent = info.absolutePath();
    if (parent != info.absoluteFilePath()) {
        MakeFolders(parent);
    }
    MakeFolder(folder);
}
