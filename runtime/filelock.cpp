#include "runtime/filelock.h"

#include "runtime/paths.h"
#include "runtime/runtimeerror.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

FileLock::FileLock(const QString& file) {
    const std::filesystem::path path = ToFsPath(file);
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) {
        RaiseErrno(errno);
    }
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int failure = errno;
            ::close(fd_);
            RaiseErrno(failure);
        }
    }
}

FileLock::~FileLock() { ::close(fd_); }
