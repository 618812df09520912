#include "runtime/descriptor.h"

#include "runtime/paths.h"
#include "runtime/runtimeerror.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include <cerrno>

int Descriptor::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

Descriptor::~Descriptor() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

namespace {
// Drops the first done bytes of the parts; the count of parts that remain.
std::size_t skipDone(iovec*& parts, std::size_t count, std::size_t done) {
    while (count > 0 && done >= parts->iov_len) {
        done -= parts->iov_len;
        ++parts;
        --count;
    }
    if (count > 0) {
        parts->iov_base = static_cast<unsigned char*>(parts->iov_base) + done;
        parts->iov_len -= done;
    }
    return count;
}
}  // namespace

bool WriteAll(int fd, const void* data, std::size_t size) {
    iovec part{const_cast<void*>(data), size};
    return WriteAllParts(fd, &part, 1);
}

bool WriteAllParts(int fd, iovec* parts, std::size_t count) {
    // Past a file size limit the system would end the process; a failed write with EFBIG
    // lets the run report "Disk full" and leave no file behind instead.
    static const bool limitIsAnError = ::signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
    (void)limitIsAnError;
    count = skipDone(parts, count, 0);
    while (count > 0) {
        const ssize_t n = ::writev(fd, parts, static_cast<int>(std::min<std::size_t>(count, IOV_MAX)));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        count = skipDone(parts, count, static_cast<std::size_t>(n));
    }
    return true;
}

long ReadAllParts(int fd, iovec* parts, std::size_t count, std::int64_t at) {
    long done = 0;
    count = skipDone(parts, count, 0);
    while (count > 0) {
        const ssize_t n = ::preadv(fd, parts, static_cast<int>(std::min<std::size_t>(count, IOV_MAX)), static_cast<off_t>(at + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += n;
        count = skipDone(parts, count, static_cast<std::size_t>(n));
    }
    return done;
}

long ReadAll(int fd, void* into, std::size_t size, std::int64_t at) {
    iovec part{into, size};
    return ReadAllParts(fd, &part, 1, at);
}

int OpenRegularFile(const QString& path, std::int64_t& size) {
    Descriptor file(::open(ToFsPath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) {
        RaiseErrno(errno, path);
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) {
        RaiseErrno(errno, path);
    }
    if (!S_ISREG(st.st_mode)) {
        RaiseError(Err::InvalidPicture, path);
    }
    size = st.st_size;
    return file.Release();
}

bool NamesIn(int folder, std::vector<std::string>& names) {
    DIR* listing = ::fdopendir(::dup(folder));
    if (listing == nullptr) {
        return false;
    }
    // The copy shares its place in the listing with the folder's own descriptor.
    ::rewinddir(listing);
    while (const dirent* entry = ::readdir(listing)) {
        if (std::string name = entry->d_name; name != "." && name != "..") {
            names.push_back(std::move(name));
        }
    }
    ::closedir(listing);
    return true;
}

void RemoveTree(int parent, const std::string& name) {
    if (::unlinkat(parent, name.c_str(), 0) == 0 || (errno != EISDIR && errno != EPERM)) {
        return;
    }
    const Descriptor folder(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.get() >= 0) {
        RemoveOpenTree(parent, folder.get(), name);
    }
}

void RemoveOpenTree(int parent, int folder, const std::string& name) {
    std::vector<std::string> names;
    if (::fchmod(folder, 0700) != 0 || !NamesIn(folder, names)) {
        return;
    }
    for (const std::string& entry : names) {
        RemoveTree(folder, entry);
    }
    ::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
}
