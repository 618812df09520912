#include "runtime/descriptor.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

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
