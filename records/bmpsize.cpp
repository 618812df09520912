#include "records/bmpsize.h"

#include "runtime/descriptor.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstddef>
#include <memory>
#include <string>

namespace {

constexpr std::size_t kBufferSize = 65536;
// The last position tested for the start-of-image sequence (its last byte is b[65527]).
constexpr std::size_t kLastSearch = 65525;
// No walk pass starts at or beyond this index, so the furthest byte read is b[65533].
constexpr std::size_t kWalkLimit = 65525;

using HeaderBuffer = std::array<std::uint8_t, kBufferSize>;

// Fills the buffer with the file's first bytes (up to its size); the rest stays 0.
void ReadHead(const QString& fileName, HeaderBuffer& b) {
    const std::filesystem::path path = ToFsPath(fileName);
    // A NUL would cut the name short and open some other file.
    if (path.native().find('\0') != std::string::npos) {
        RaiseError(Err::BadFileName, fileName);
    }
    // O_NONBLOCK only matters for a FIFO or device, which must not hang the window.
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    const int fd = file.get();
    if (fd < 0) {
        RaiseErrno(errno, fileName);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        RaiseErrno(errno, fileName);
    }
    if (S_ISDIR(st.st_mode)) {
        // Opening a folder as a file is an access error, as it is for the Basic Open.
        RaiseErrno(EISDIR, fileName);
    }
    std::size_t filled = 0;
    while (filled < b.size()) {
        const ssize_t got = ::read(fd, b.data() + filled, b.size() - filled);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            RaiseErrno(errno, fileName);
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
}

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | std::uint32_t{p[3]};
}

std::uint32_t littleEndian32(const std::uint8_t* p) {
    return std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | std::uint32_t{p[0]};
}

bool IsStartOfFrame(std::uint8_t code) {
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

}  // namespace

std::int32_t bmpsize::MakeWord(std::uint8_t low, std::uint8_t high) {
    return static_cast<std::int32_t>(high) * 256 + static_cast<std::int32_t>(low);
}

void bmpsize::ReadImageInfo(const QString& sFileName) {
    width_ = 0;
    height_ = 0;
    depth_ = 0;
    imageType_ = Unknown;
    fullWidth_ = 0;
    fullHeight_ = 0;

    // On the heap: 64 KiB is too much for the stack of every caller. make_unique
    // value-initialises, so the buffer starts all zero.
    const auto buffer = std::make_unique<HeaderBuffer>();
    HeaderBuffer& b = *buffer;
    ReadHead(sFileName, b);

    if (b[0] == 137 && b[1] == 80 && b[2] == 78) {
        imageType_ = Png;
        const std::uint8_t bitDepth = b[24];
        std::uint8_t depth = 0;
        switch (b[25]) {
        case 0: depth = bitDepth; break;
        case 2: depth = static_cast<std::uint8_t>(bitDepth * 3); break;
        case 3: depth = 8; break;
        case 4: depth = static_cast<std::uint8_t>(bitDepth * 2); break;
        case 6: depth = static_cast<std::uint8_t>(bitDepth * 4); break;
        default: imageType_ = Unknown; break;
        }
        if (imageType_ == Png) {
            depth_ = depth;
            width_ = MakeWord(b[19], b[18]);
            height_ = MakeWord(b[23], b[22]);
        }
    }

    if (b[0] == 71 && b[1] == 73 && b[2] == 70) {
        imageType_ = Gif;
        width_ = MakeWord(b[6], b[7]);
        height_ = MakeWord(b[8], b[9]);
        depth_ = (b[10] & 7) + 1;
    }

    if (b[0] == 66 && b[1] == 77) {
        imageType_ = Bmp;
        width_ = MakeWord(b[18], b[19]);
        height_ = MakeWord(b[22], b[23]);
        depth_ = b[28];
    }

    fullWidth_ = width_;
    fullHeight_ = height_;
    if (imageType_ == Png) {
        fullWidth_ = bigEndian32(&b[16]);
        fullHeight_ = bigEndian32(&b[20]);
    } else if (imageType_ == Bmp && littleEndian32(&b[14]) != 12) {
        // A core header (12 bytes) has 16-bit sizes; the others 32-bit, a negative height for
        // rows stored top-down.
        fullWidth_ = static_cast<std::int32_t>(littleEndian32(&b[18]));
        fullHeight_ = std::abs(std::int64_t{static_cast<std::int32_t>(littleEndian32(&b[22]))});
    }
    if (imageType_ != Unknown) {
        return;
    }

    // JPEG: find the start-of-image sequence, then walk the segments to the first frame header.
    std::size_t s = 0;
    while (s <= kLastSearch && !(b[s] == 0xFF && b[s + 1] == 0xD8 && b[s + 2] == 0xFF)) {
        ++s;
    }
    // Without a match s is past kLastSearch, so i is past the walk limit and nothing is walked.
    std::size_t i = s + 2;
    while (i < kWalkLimit) {
        if (b[i] == 0xFF && b[i + 1] != 0xFF) {
            const std::size_t m = i + 1;
            if (IsStartOfFrame(b[m])) {
                imageType_ = Jpeg;
                height_ = MakeWord(b[m + 5], b[m + 4]);
                width_ = MakeWord(b[m + 7], b[m + 6]);
                depth_ = static_cast<std::uint8_t>(b[m + 8] * 8);
                fullWidth_ = width_;
                fullHeight_ = height_;
                return;
            }
            // Every other marker is taken as a segment with a length; m + L is the
            // segment's last byte, which the next pass steps over.
            i = m + static_cast<std::size_t>(MakeWord(b[m + 2], b[m + 1]));
        } else {
            ++i;
        }
    }
}
