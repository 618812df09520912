#include "runtime/foldermirror.h"

#include "runtime/descriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {
int openSub(int folder, const std::string& name) {
    return ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The folder's mode and group as the original's; its owner is this user's, as checked.
bool sameMode(int fd, const struct stat& original) {
    struct stat made {};
    if (::fstat(fd, &made) != 0) {
        return false;
    }
    if (made.st_gid != original.st_gid && ::fchown(fd, static_cast<uid_t>(-1), original.st_gid) != 0) {
        return false;
    }
    return ::fchmod(fd, original.st_mode & 07777) == 0;
}

bool mirror(int from, int to, const std::set<std::string>* skip, std::size_t& left, const struct stat& top) {
    std::vector<std::string> names;
    if (!NamesIn(from, names)) {
        return false;
    }
    for (const std::string& name : names) {
        if (skip != nullptr && skip->count(name) != 0) {
            continue;
        }
        if (left == 0) {
            return false;
        }
        --left;
        struct stat st {};
        if (::fstatat(from, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            // Gone meanwhile: nothing to keep.
            if (errno == ENOENT) {
                continue;
            }
            return false;
        }
        struct stat there {};
        const bool exists = ::fstatat(to, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0;
        if (!S_ISDIR(st.st_mode)) {
            if (!exists && ::linkat(from, name.c_str(), to, name.c_str(), 0) != 0) {
                return false;
            }
            continue;
        }
        // A folder made here would change hands or leave its file system.
        if (st.st_dev != top.st_dev || st.st_uid != top.st_uid || (exists && !S_ISDIR(there.st_mode)) ||
            (!exists && ::mkdirat(to, name.c_str(), 0700) != 0)) {
            return false;
        }
        const Descriptor source(openSub(from, name));
        const Descriptor copy(openSub(to, name));
        // Filled first, then given its mode, which may forbid writing into it.
        if (source.get() < 0 || copy.get() < 0 || !mirror(source.get(), copy.get(), nullptr, left, top) ||
            !sameMode(copy.get(), st)) {
            return false;
        }
    }
    return true;
}
}  // namespace

bool MirrorFolder(int from, int to, const std::set<std::string>& skip, std::size_t budget) {
    struct stat top {};
    return ::fstat(from, &top) == 0 && mirror(from, to, &skip, budget, top) && sameMode(to, top);
}

void CarryOver(int from, int to, const std::set<std::string>& skip) {
    std::vector<std::string> names;
    if (!NamesIn(from, names)) {
        return;
    }
    for (const std::string& name : names) {
        struct stat old {};
        struct stat now {};
        if (skip.count(name) != 0 || ::fstatat(from, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        if (::fstatat(to, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
            ::renameat(from, name.c_str(), to, name.c_str());
        } else if (S_ISDIR(old.st_mode) && S_ISDIR(now.st_mode)) {
            const Descriptor source(openSub(from, name));
            const Descriptor copy(openSub(to, name));
            if (source.get() >= 0 && copy.get() >= 0) {
                CarryOver(source.get(), copy.get(), {});
            }
        } else if (!S_ISDIR(old.st_mode) && (old.st_ino != now.st_ino || old.st_dev != now.st_dev)) {
            // Replaced in the old folder after it was mirrored: the later file wins.
            ::renameat(from, name.c_str(), to, name.c_str());
        }
    }
}
