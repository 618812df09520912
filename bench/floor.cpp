// The bare floor of the batch program as a process: the least work the same files take,
// timed from outside together with its start-up.
//
//   bench_floor split COUNT FOLDER         COUNT tile files of 3,126 bytes, each with one
//                                          openat (relative to the open FOLDER), write and
//                                          close, from one reused buffer
//   bench_floor compile COUNT FOLDER BYTES the tiles 0 to COUNT - 1 of FOLDER read, each with
//                                          openat, read and close, into one reused buffer;
//                                          then FOLDER/Tiles.bmp of BYTES bytes written from
//                                          one reused 1 MiB buffer

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
[[noreturn]] void fail(const std::string& what) {
    std::perror(what.c_str());
    std::exit(1);
}

void writeAll(int fd, const unsigned char* bytes, std::size_t size, const std::string& name) {
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n <= 0) {
            fail(name);
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_floor split|compile COUNT FOLDER [BYTES]\n");
        return 2;
    }
    const std::string mode = argv[1];
    const long count = std::atol(argv[2]);
    const int folder = ::open(argv[3], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        fail(argv[3]);
    }
    char name[32];
    if (mode == "split") {
        static unsigned char tile[3126];
        std::memset(tile, 0x5A, sizeof tile);
        std::memcpy(tile, "BM", 2);
        for (long i = 0; i < count; ++i) {
            std::snprintf(name, sizeof name, "%ld.bmp", i);
            const int fd = ::openat(folder, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            if (fd < 0) {
                fail(name);
            }
            writeAll(fd, tile, sizeof tile, name);
            ::close(fd);
        }
        return 0;
    }
    if (mode == "compile" && argc > 4) {
        static unsigned char buffer[1 << 20];
        for (long i = 0; i < count; ++i) {
            std::snprintf(name, sizeof name, "%ld.bmp", i);
            const int fd = ::openat(folder, name, O_RDONLY | O_CLOEXEC);
            if (fd < 0 || ::read(fd, buffer, sizeof buffer) <= 0) {
                fail(name);
            }
            ::close(fd);
        }
        std::memset(buffer, 0x5A, sizeof buffer);
        const int fd = ::openat(folder, "Tiles.bmp", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) {
            fail("Tiles.bmp");
        }
        for (unsigned long long left = std::strtoull(argv[4], nullptr, 10); left > 0;) {
            const std::size_t part = static_cast<std::size_t>(std::min<unsigned long long>(left, sizeof buffer));
            writeAll(fd, buffer, part, "Tiles.bmp");
            left -= part;
        }
        ::close(fd);
        return 0;
    }
    std::fprintf(stderr, "bench_floor: unknown mode %s\n", mode.c_str());
    return 2;
}
