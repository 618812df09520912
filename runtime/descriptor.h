#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// An open file descriptor, closed on every way out, failures included.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor();
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Hands the descriptor over; it is no longer closed here.
    int Release();

private:
    int fd_;
};

// Writes every byte, going on after short writes and interruptions; false with errno set
// when the system refuses. A file size limit makes it fail with EFBIG, never a signal.
bool WriteAll(int fd, const void* data, std::size_t size);

struct iovec;

// WriteAll for data in many parts, taken in order as if they were one buffer: as few calls
// as the system allows, and no copy. The parts may be changed.
bool WriteAllParts(int fd, iovec* parts, std::size_t count);

// ReadAll into many parts, filled in order from offset at; the bytes read, fewer only at the
// end of the file, or -1 with errno set. The parts may be changed.
long ReadAllParts(int fd, iovec* parts, std::size_t count, std::int64_t at);

// Reads size bytes from offset at, going on after short reads and interruptions; fewer only
// at the end of the file. -1 with errno set when the system refuses.
long ReadAll(int fd, void* into, std::size_t size, std::int64_t at);

// Opens a file for reading and gives its descriptor and size. A missing file raises 53 and
// the like; something that is no regular file (a folder, a device) 481 "Invalid picture".
int OpenRegularFile(const QString& path, std::int64_t& size);

// Appends the names of a folder's entries (not "." and ".."), read through a copy of its
// descriptor; false with errno set when the system refuses.
bool NamesIn(int folder, std::vector<std::string>& names);

// Removes the folder name of parent and everything in it, whatever its folders' modes; links
// are removed, never followed. Failures are ignored: what stays is litter for a later run.
void RemoveTree(int parent, const std::string& name);
// The same for a folder already open as folder (its descriptor stays the caller's).
void RemoveOpenTree(int parent, int folder, const std::string& name);
