#include "platform/descriptor.h"

#include <unistd.h>

#include <cerrno>

Descriptor::~Descriptor() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool WriteAll(int fd, const void* data, std::size_t size) {
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
