#include "runtime/stagingfolder.h"

#include "runtime/descriptor.h"
#include "runtime/foldermirror.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <set>
#include <vector>

namespace {
// Entries of a destination mirrored into its new version at most: past that, a folder of a
// whole project, it is changed file by file.
constexpr std::size_t MirrorEntries = 100000;

// In the shape of the writers' hidden files, so that RemoveLeftovers knows a dead run's.
std::string stageName() {
    static std::atomic<unsigned long> counter{0};
    char name[64];
    std::snprintf(name, sizeof name, ".tilvex-%ld-stage%lu.tmp", static_cast<long>(::getpid()), ++counter);
    return name;
}

QString AsFolderPath(const QString& path) { return EndsWithSeparator(path) ? path : path + PathSeparator(); }

int openFolder(int at, const char* path) { return ::openat(at, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

std::vector<std::string> namesIn(int folder) {
    std::vector<std::string> names;
    if (!NamesIn(folder, names)) {
        RaiseErrno(errno);
    }
    return names;
}

// A namesake that a plain write could not replace: a folder, something that is no regular
// file (a device or a pipe), or a file with no write bits. A link is replaced, not followed.
int replaceRefusal(int folder, const std::string& name) {
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? 0 : errno;
    }
    if (S_ISDIR(st.st_mode)) {
        return EISDIR;
    }
    if (S_ISLNK(st.st_mode)) {
        return 0;
    }
    return !S_ISREG(st.st_mode) ? EINVAL : (st.st_mode & 0222) == 0 ? EACCES : 0;
}
}  // namespace

StagingFolder::StagingFolder(const QString& destination, Replace replace) {
    const QString clean = QDir::cleanPath(destination);
    destination_ = EndsWithSeparator(clean) ? clean : clean + PathSeparator();
    name_ = stageName();
    const QFileInfo info(clean);
    target_ = ToFsPath(info.fileName()).string();
    if (replace == Replace::Folder && info.isDir()) {
        stageBeside(info.canonicalFilePath());
    } else if (!info.exists() && !info.isSymLink()) {
        parent_ = openFolder(AT_FDCWD, ToFsPath(info.path()).c_str());
        beside_ = parent_ >= 0 && ::mkdirat(parent_, name_.c_str(), 0777) == 0;
        if (beside_) {
            stagePath_ = AsFolderPath(info.path()) + QString::fromStdString(name_) + PathSeparator();
        } else if (parent_ >= 0) {
            ::close(parent_);
            parent_ = -1;
        }
    }
    if (!beside_ && !swap_) {
        // The folder made as always (one level, with its usual failures); the files hide in it.
        MakeFolder(clean);
        parent_ = openFolder(AT_FDCWD, ToFsPath(clean).c_str());
        if (parent_ < 0 || ::mkdirat(parent_, name_.c_str(), 0777) != 0) {
            const int failure = errno;
            if (parent_ >= 0) {
                ::close(parent_);
            }
            RaiseErrno(failure, clean);
        }
        stagePath_ = destination_ + QString::fromStdString(name_) + PathSeparator();
    }
    stage_ = openFolder(parent_, name_.c_str());
    // Held until the run ends, however it ends: the stage is not litter while it is held.
    if (stage_ < 0 || ::flock(stage_, LOCK_EX) != 0) {
        const int failure = errno;
        if (stage_ >= 0) {
            ::close(stage_);
        }
        ::unlinkat(parent_, name_.c_str(), AT_REMOVEDIR);
        ::close(parent_);
        RaiseErrno(failure, clean);
    }
}

// Beside the real folder (through links, which stay), where the two can swap names: the same
// file system and owner, a folder this user may write (a read-only one is not replaced by
// the back door) and a parent too.
void StagingFolder::stageBeside(const QString& real) {
    const QFileInfo info(real);
    if (real.isEmpty() || info.fileName().isEmpty()) {
        return;
    }
    const int parent = openFolder(AT_FDCWD, ToFsPath(info.path()).c_str());
    const std::string name = ToFsPath(info.fileName()).string();
    struct stat folder {};
    struct stat above {};
    if (parent >= 0 && ::fstatat(parent, name.c_str(), &folder, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(folder.st_mode) &&
        ::fstat(parent, &above) == 0 && folder.st_dev == above.st_dev && folder.st_uid == ::geteuid() &&
        ::faccessat(parent, name.c_str(), W_OK, AT_EACCESS) == 0 && ::mkdirat(parent, name_.c_str(), 0700) == 0) {
        parent_ = parent;
        target_ = name;
        swap_ = true;
        stagePath_ = AsFolderPath(info.path()) + QString::fromStdString(name_) + PathSeparator();
    } else if (parent >= 0) {
        ::close(parent);
    }
}

StagingFolder::~StagingFolder() {
    if (!committed_) {
        // What cannot be removed now is removed by a later run as a dead run's folder.
        RemoveTree(parent_, name_);
    }
    ::close(stage_);
    ::close(parent_);
}

RuntimeError StagingFolder::fail(std::int32_t number, int failure, const std::string& name, const QString& after) const {
    return RuntimeError(number, ErrorDescription(ErrnoToNumber(failure)) + after, destination_ + QString::fromStdString(name));
}

void StagingFolder::Write(const std::string& name, const void* data, std::size_t size) const {
    const int fd = ::openat(stage_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int failure = errno;
        throw fail(ErrnoToNumber(failure), failure, name);
    }
    int failure = WriteAll(fd, data, size) ? 0 : errno;
    if (::close(fd) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure != 0) {
        throw fail(ErrnoToNumber(failure), failure, name);
    }
}

void StagingFolder::checkIn(int folder, const std::vector<std::string>& names) const {
    // Every namesake is looked at before the first is replaced, so a refusal changes nothing.
    for (const std::string& name : names) {
        if (const int refusal = replaceRefusal(folder, name); refusal != 0) {
            throw fail(refusal == EINVAL ? Err::PathFileAccess : ErrnoToNumber(refusal), refusal, name,
                       QString(refusal == EINVAL ? " (no regular file)" : "") + "; nothing was changed");
        }
    }
}

void StagingFolder::moveInto(int folder, const std::vector<std::string>& names) {
    std::size_t moved = 0;
    for (const std::string& name : names) {
        if (::renameat(stage_, name.c_str(), folder, name.c_str()) != 0) {
            const int failure = errno;
            throw fail(ErrnoToNumber(failure), failure, name,
                       QStringLiteral("; %1 of %2 files were put in place before it").arg(moved).arg(names.size()));
        }
        ++moved;
    }
    RemoveTree(parent_, name_);
}

// The rest of the destination joins the new files, the two folders swap names and the old
// one goes. False, the destination untouched, where it cannot be done faithfully.
bool StagingFolder::swap(int folder, const std::vector<std::string>& names) {
    const std::set<std::string> own(names.begin(), names.end());
    if (!MirrorFolder(folder, stage_, own, MirrorEntries) ||
        ::renameat2(parent_, name_.c_str(), parent_, target_.c_str(), RENAME_EXCHANGE) != 0) {
        // The stage may have taken the destination's mode, which must not stop the moves.
        ::fchmod(stage_, 0700);
        return false;
    }
    CarryOver(folder, stage_, own);
    RemoveTree(parent_, name_);
    return true;
}

void StagingFolder::Commit(const std::function<void(const QString& folder)>& last) {
    if (beside_) {
        last(stagePath_);
        if (::renameat2(parent_, name_.c_str(), parent_, target_.c_str(), RENAME_NOREPLACE) == 0) {
            committed_ = true;
            return;
        }
        // Another run made the folder meanwhile: the files join it one by one.
        const int failure = errno;
        const Descriptor folder(openFolder(parent_, target_.c_str()));
        if (folder.get() < 0) {
            RaiseErrno(failure, destination_);
        }
        const std::vector<std::string> names = namesIn(stage_);
        checkIn(folder.get(), names);
        moveInto(folder.get(), names);
        committed_ = true;
        return;
    }
    if (swap_) {
        const std::vector<std::string> names = namesIn(stage_);
        const Descriptor folder(openFolder(parent_, target_.c_str()));
        if (folder.get() < 0) {
            RaiseErrno(errno, destination_);
        }
        checkIn(folder.get(), names);
        if (!swap(folder.get(), names)) {
            moveInto(folder.get(), names);
        }
        committed_ = true;
        last(destination_);
        return;
    }
    const std::vector<std::string> names = namesIn(stage_);
    checkIn(parent_, names);
    moveInto(parent_, names);
    committed_ = true;
    last(destination_);
}

QString StagingFolder::Path(const std::string& name) const { return stagePath_ + QString::fromStdString(name); }

void StagingFolder::Check(const std::vector<std::string>& names) const { checkIn(parent_, names); }

void StagingFolder::Link(const std::string& name, const std::string& as) const {
    if (::linkat(stage_, name.c_str(), stage_, as.c_str(), 0) != 0) {
        const int failure = errno;
        throw fail(ErrnoToNumber(failure), failure, as);
    }
}

void StagingFolder::Place(const std::string& name, const std::string& as) {
    if (::renameat(stage_, name.c_str(), parent_, as.c_str()) != 0) {
        const int failure = errno;
        throw fail(ErrnoToNumber(failure), failure, as);
    }
}

void StagingFolder::Remove(const std::string& name) const {
    if (::unlinkat(parent_, name.c_str(), 0) != 0 && errno != ENOENT) {
        const int failure = errno;
        throw fail(ErrnoToNumber(failure), failure, name);
    }
}

void StagingFolder::Done() {
    RemoveTree(parent_, name_);
    committed_ = true;
}
