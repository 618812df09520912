#include "runtime/descriptor.h"

#include "runtime/paths.h"
#include "runtime/runtimeerror.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool WriteAll(int fd, const void* data, std::size_t size) {
    // Past a file size limit the system would end the process; a failed write with EFBIG
    // lets the run report "Disk full" and leave no file behind instead.
    static const bool limitIsAnError = ::signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
    (void)limitIsAnError;
    const auto* next = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, next, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        next += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

long ReadAll(int fd, void* into, std::size_t size, std::int64_t at) {
    auto* next = static_cast<unsigned char*>(into);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, next + done, size - done, static_cast<off_t>(at + static_cast<std::int64_t>(done)));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long>(done);
}

int OpenRegularFile(const QString& path, std::int64_t& size) {
    Descriptor file(::open(ToFsPath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) {
        RaiseErrno(errno);
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) {
        RaiseErrno(errno);
    }
    if (!S_ISREG(st.st_mode)) {
        RaiseError(Err::InvalidPicture);
    }
    size = st.st_size;
    return file.Release();
}
