#pragma once

#include <cstddef>

// An open file descriptor, closed on every way out, failures included.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor();
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Writes every byte, going on after short writes and interruptions; false with errno set
// when the system refuses. A file size limit makes it fail with EFBIG, never a signal.
bool WriteAll(int fd, const void* data, std::size_t size);
