#include "runtime/atomicfile.h"

#include "runtime/descriptor.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <ctime>

namespace {
constexpr char LeftoverPrefix[] = ".tilvex-";
constexpr char LeftoverSuffix[] = ".tmp";
// The fixed name that earlier versions wrote beside the target.
constexpr char OldSuffix[] = ".tilvex-tmp";

// Short and independent of the target's name, so it fits wherever the target does; the
// process id tells a later run whether its writer is still alive.
std::string uniqueName() {
    static std::atomic<unsigned long> counter{0};
    char name[64];
    std::snprintf(name, sizeof name, "%s%ld-%lu%s", LeftoverPrefix, static_cast<long>(::getpid()), ++counter,
                  LeftoverSuffix);
    return name;
}

// Gives an unnamed file a name. Linking by descriptor needs a capability that ordinary users
// lack; the /proc path works for them. Whichever worked first is tried first from then on.
bool linkUnnamed(int fd, int folder, const char* to) {
    static std::atomic<bool> viaProc{false};
    if (!viaProc) {
        if (::linkat(fd, "", folder, to, AT_EMPTY_PATH) == 0) {
            return true;
        }
        if (errno != ENOENT) {
            return false;
        }
    }
    char proc[48];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, proc, folder, to, AT_SYMLINK_FOLLOW) != 0) {
        return false;
    }
    viaProc = true;
    return true;
}

// An existing target may be replaced where a plain write to it would be allowed; a file with
// no write bits is read-only even for a user whom the system would let write. A link is
// replaced, not followed: files edited at a link's target are resolved by their callers. A
// device, FIFO or socket is never replaced by a regular file.
bool mayReplace(int folder, const char* target) {
    struct stat st {};
    if (::fstatat(folder, target, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT;
    }
    if (S_ISLNK(st.st_mode)) {
        return true;
    }
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        errno = ENXIO;
        return false;
    }
    if ((st.st_mode & 0222) == 0) {
        errno = EACCES;
        return false;
    }
    return true;
}

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() > end.size() && text.substr(text.size() - end.size()) == end;
}

// Whether a hidden file of ours belongs to a writer that has ended.
bool writerGone(std::string_view name, int folder) {
    if (name.rfind(LeftoverPrefix, 0) == 0 && endsWith(name, LeftoverSuffix)) {
        long pid = 0;
        const char* first = name.data() + sizeof LeftoverPrefix - 1;
        const auto [end, ec] = std::from_chars(first, name.data() + name.size(), pid);
        return ec == std::errc() && *end == '-' && pid > 0 && pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 &&
               errno == ESRCH;
    }
    if (endsWith(name, OldSuffix)) {
        // No process id to ask: a file untouched for ten minutes has no writer any more.
        struct stat st {};
        return ::fstatat(folder, std::string(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
               st.st_mtime < std::time(nullptr) - 600;
    }
    return false;
}
}  // namespace

AtomicFile::~AtomicFile() {
    discard();
    closeFolder();
}

void AtomicFile::closeFolder() {
    if (ownsFolder_) {
        ::close(folder_);
    }
    folder_ = -1;
    ownsFolder_ = false;
}

void AtomicFile::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!named_.empty()) {
        ::unlinkat(folder_, named_.c_str(), 0);
        named_.clear();
    }
}

bool AtomicFile::Open(const std::filesystem::path& target, mode_t mode) {
    discard();
    closeFolder();
    const std::filesystem::path folder = target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
    const int fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    folder_ = fd;
    ownsFolder_ = true;
    return OpenIn(fd, target.filename().string(), mode);
}

bool AtomicFile::OpenIn(int folder, std::string name, mode_t mode) {
    discard();
    if (folder != folder_) {
        closeFolder();
        folder_ = folder;
    }
    name_ = std::move(name);
    fd_ = ::openat(folder_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd_ >= 0) {
        return true;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return false;
    }
    named_ = uniqueName();
    fd_ = ::openat(folder_, named_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd_ < 0) {
        const int failure = errno;
        named_.clear();
        errno = failure;
        return false;
    }
    return true;
}

bool AtomicFile::Commit() {
    auto fail = [this] {
        const int failure = errno;
        discard();
        errno = failure;
        return false;
    };
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    const char* target = name_.c_str();
    if (named_.empty()) {
        // A new file takes its name in one step, so nothing of ours is ever visible half done.
        if (linkUnnamed(fd_, folder_, target)) {
            const int fd = fd_;
            fd_ = -1;
            if (::close(fd) != 0) {
                const int failure = errno;
                ::unlinkat(folder_, target, 0);
                errno = failure;
                return false;
            }
            return true;
        }
        if (errno != EEXIST || !mayReplace(folder_, target)) {
            return fail();
        }
        named_ = uniqueName();
        if (!linkUnnamed(fd_, folder_, named_.c_str())) {
            named_.clear();
            return fail();
        }
    } else if (!mayReplace(folder_, target)) {
        return fail();
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 || ::renameat(folder_, named_.c_str(), folder_, target) != 0) {
        return fail();
    }
    named_.clear();
    return true;
}

void RemoveLeftovers(const std::filesystem::path& folder) {
    DIR* listing = ::opendir(folder.empty() ? "." : folder.c_str());
    if (listing == nullptr) {
        return;
    }
    const int fd = ::dirfd(listing);
    while (const dirent* entry = ::readdir(listing)) {
        if (writerGone(entry->d_name, fd) && ::unlinkat(fd, entry->d_name, 0) != 0 && errno == EISDIR) {
            // A dead run's hidden folder of new files (see StagingFolder), unless a run still
            // holds it: one whose process the id does not reach (another process namespace).
            const Descriptor stage(::openat(fd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (stage.get() >= 0 && ::flock(stage.get(), LOCK_EX | LOCK_NB) == 0) {
                RemoveOpenTree(fd, stage.get(), entry->d_name);
            }
        }
    }
    ::closedir(listing);
}
