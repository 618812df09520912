// The floor of the batch program as a process: the least work the same files take, timed
// from outside together with its start-up.
//
//   bench_floor split COUNT FOLDER         COUNT tile files of 3,126 bytes, from memory,
//                                          each with one open, write and close
//   bench_floor compile COUNT FOLDER BYTES the tiles 0 to COUNT - 1 of FOLDER read into one
//                                          reused buffer, then one plain write of a file of
//                                          BYTES bytes as FOLDER/Tiles.bmp

#include <fcntl.h>
#include <unistd.h>

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

void writeFile(const std::string& path, const unsigned char* bytes, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0 || ::write(fd, bytes, size) != static_cast<ssize_t>(size)) {
        fail(path);
    }
    ::close(fd);
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_floor split|compile COUNT FOLDER [BYTES]\n");
        return 2;
    }
    const std::string mode = argv[1];
    const long count = std::atol(argv[2]);
    const std::string folder = std::string(argv[3]) + "/";
    if (mode == "split") {
        std::vector<unsigned char> tile(3126, 0x5A);
        std::memcpy(tile.data(), "BM", 2);
        for (long i = 0; i < count; ++i) {
            writeFile(folder + std::to_string(i) + ".bmp", tile.data(), tile.size());
        }
        return 0;
    }
    if (mode == "compile" && argc > 4) {
        std::vector<unsigned char> buffer(1 << 16);
        for (long i = 0; i < count; ++i) {
            const std::string path = folder + std::to_string(i) + ".bmp";
            const int fd = ::open(path.c_str(), O_RDONLY);
            if (fd < 0 || ::read(fd, buffer.data(), buffer.size()) <= 0) {
                fail(path);
            }
            ::close(fd);
        }
        std::vector<unsigned char> sheet(std::strtoull(argv[4], nullptr, 10), 0x5A);
        writeFile(folder + "Tiles.bmp", sheet.data(), sheet.size());
        return 0;
    }
    std::fprintf(stderr, "bench_floor: unknown mode %s\n", mode.c_str());
    return 2;
}
