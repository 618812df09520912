// Feeds arbitrary bytes to the image header reader through a file, as Split mode does, and
// checks what must hold for every input.
// sources: runtime/paths.cpp runtime/runtimeerror.cpp runtime/descriptor.cpp records/bmpsize.cpp
// options: -max_len=70000 -dict=fuzz/bmpsize_fuzz.dict

#include "records/bmpsize.h"

#include <QFile>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// One scratch file for the whole run, removed at exit.
const std::string& ScratchPath() {
    static const std::string path = [] {
        std::string name = "/tmp/bmpsize_fuzz_XXXXXX";
        const int fd = ::mkstemp(name.data());
        if (fd < 0) {
            std::perror("mkstemp");
            std::abort();
        }
        ::close(fd);
        return name;
    }();
    return path;
}

void RemoveScratch() { ::unlink(ScratchPath().c_str()); }

void Check(bool condition, const char* what, const bmpsize& r) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s (type %d, width %d, height %d, depth %d)\n", what,
                     r.ImageType(), r.Width(), r.Height(), r.Depth());
        std::abort();
    }
}

bool StartsWith(const std::uint8_t* data, std::size_t size, const char* prefix) {
    const std::size_t n = std::strlen(prefix);
    return size >= n && std::memcmp(data, prefix, n) == 0;
}

// True when the start-of-image sequence begins somewhere the search looks (0 to 65525).
bool HasStartOfImage(const std::uint8_t* data, std::size_t size) {
    for (std::size_t s = 0; s + 2 < size && s <= 65525; ++s) {
        if (data[s] == 0xFF && data[s + 1] == 0xD8 && data[s + 2] == 0xFF) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool registered = (std::atexit(RemoveScratch), true);
    (void)registered;

    std::FILE* file = std::fopen(ScratchPath().c_str(), "wb");
    if (file == nullptr || (size > 0 && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) {
        std::perror("writing the scratch file");
        std::abort();
    }
    const QString path = QFile::decodeName(QByteArray::fromStdString(ScratchPath()));

    bmpsize reader;
    reader.ReadImageInfo(path);

    Check(reader.Width() >= 0 && reader.Width() <= 65535, "Width in 0..65535", reader);
    Check(reader.Height() >= 0 && reader.Height() <= 65535, "Height in 0..65535", reader);
    Check(reader.Depth() >= 0 && reader.Depth() <= 255, "Depth in 0..255", reader);
    Check(reader.ImageType() >= 0 && reader.ImageType() <= 4, "ImageType in 0..4", reader);
    if (reader.ImageType() == 0) {
        Check(reader.Width() == 0 && reader.Height() == 0 && reader.Depth() == 0, "nothing found, all 0", reader);
    }
    // A signature decides the type; only a PNG of unknown colour type goes on to the JPEG scan.
    if (StartsWith(data, size, "BM")) {
        Check(reader.ImageType() == 4, "BM is a bitmap", reader);
    } else if (StartsWith(data, size, "GIF")) {
        Check(reader.ImageType() == 1, "GIF is a GIF", reader);
        Check(reader.Depth() >= 1 && reader.Depth() <= 8, "GIF depth 1..8", reader);
    } else if (StartsWith(data, size, "\x89PN")) {
        Check(reader.ImageType() == 3 || reader.ImageType() == 2 || reader.ImageType() == 0, "PNG type", reader);
    } else {
        Check(reader.ImageType() == 2 || reader.ImageType() == 0, "no signature: JPEG or nothing", reader);
    }
    if (reader.ImageType() == 2) {
        Check(HasStartOfImage(data, size), "JPEG only after a start of image", reader);
    }

    // A second read of the same bytes by the same object agrees with the first: nothing of the
    // earlier read may leak into the next.
    const std::int32_t values[4] = {reader.ImageType(), reader.Width(), reader.Height(), reader.Depth()};
    reader.ReadImageInfo(path);
    const std::int32_t again[4] = {reader.ImageType(), reader.Width(), reader.Height(), reader.Depth()};
    Check(std::memcmp(values, again, sizeof values) == 0, "same bytes, same values", reader);
    return 0;
}
