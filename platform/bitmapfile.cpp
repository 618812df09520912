#include "platform/bitmapfile.h"

#include "platform/bitmapheader.h"
#include "platform/dibdecoder.h"
#include "platform/paths.h"
#include "platform/picture.h"
#include "platform/surfacememory.h"
#include "platform/runtimeerror.h"

#include <QFile>
#include <QImageReader>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {
void put16(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char* p, std::uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

bool writeAll(int fd, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}


// Closes the descriptor on every way out, failures included.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// The file's bytes, mapped for as long as a decode takes: a big sheet is not copied.
class MappedFile {
public:
    MappedFile(int fd, std::size_t size) : size_(size) {
        // Mapped in one go: one fault per page of a big sheet costs more than its decoding.
        void* at = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        data_ = at == MAP_FAILED ? nullptr : static_cast<const unsigned char*>(at);
    }
    ~MappedFile() {
        if (data_ != nullptr) {
            ::munmap(const_cast<unsigned char*>(data_), size_);
        }
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    const unsigned char* Data() const { return data_; }

private:
    const unsigned char* data_ = nullptr;
    std::size_t size_;
};

// Compressed data may stand for a picture far bigger than the file; real files stay well
// below this ratio, while a tiny file claiming a huge size does not.
constexpr std::int64_t kMaxBytesPerFileByte = 2048;
constexpr std::int64_t kAlwaysAllowedBytes = std::int64_t{64} << 20;

bool tooBigForFile(std::int64_t width, std::int64_t height, std::int64_t fileSize) {
    return width > Picture::MaxSide || height > Picture::MaxSide ||
           4 * width * height > kAlwaysAllowedBytes + kMaxBytesPerFileByte * fileSize;
}

// Checks a bitmap's header against the file before anything is allocated for it: a header
// may claim any size, the file must hold it. Returns the pixels claimed.
std::uint64_t checkBitmapClaims(const BitmapHeader& h, std::int64_t fileSize) {
    const std::int64_t width = h.width < 0 ? -static_cast<std::int64_t>(h.width) : h.width;
    if (width > Picture::MaxSide || h.Rows() > Picture::MaxSide) {
        RaiseError(Err::InvalidPicture);
    }
    const bool cut = h.Uncompressed() && static_cast<std::int64_t>(h.dataOffset) + h.RowBytes() * h.Rows() > fileSize;
    if (cut || (!h.Uncompressed() && tooBigForFile(width, h.Rows(), fileSize))) {
        RaiseError(Err::InvalidPicture);
    }
    return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(h.Rows());
}

}  // namespace

QImage LoadBitmapFile(const QString& path) {
    const std::filesystem::path native = ToFsPath(path);
    const Descriptor file(::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
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
    QByteArray head(64, '\0');
    const ssize_t got = ::pread(file.get(), head.data(), static_cast<std::size_t>(head.size()), 0);
    head.truncate(std::max<ssize_t>(got, 0));
    if (const auto header = ParseBitmapHeader(head)) {
        const std::uint64_t claimed = checkBitmapClaims(*header, st.st_size);
        const MappedFile bytes(file.get(), static_cast<std::size_t>(st.st_size));
        if (bytes.Data() == nullptr) {
            RaiseErrno(errno);
        }
        // The claim has passed the checks above, so big sheets are allowed.
        const QImage image = DecodeDib(bytes.Data(), static_cast<std::size_t>(st.st_size), &NewSurfaceImage, claimed);
        if (image.isNull()) {
            RaiseError(Err::InvalidPicture);
        }
        return image;
    }

    // Other formats under a bitmap's name go to the toolkit's readers.
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    // A top-down picture reports a negative height here.
    const QSize size(std::abs(reader.size().width()), std::abs(reader.size().height()));
    if (size.isEmpty() || size.width() > Picture::MaxSide || size.height() > Picture::MaxSide) {
        RaiseError(Err::InvalidPicture);
    }
    if (tooBigForFile(size.width(), size.height(), st.st_size)) {
        RaiseError(Err::InvalidPicture);
    }
    const std::int64_t bytes = std::int64_t{4} * size.width() * size.height();
    // Qt refuses big images unless told otherwise; this one has passed the checks above.
    QImageReader::setAllocationLimit(static_cast<int>(std::min<std::int64_t>(bytes >> 20, 1 << 20)) + 64);
    // The reader decodes into an image of the right size and format that it is given, and
    // leaves alone what broken or cut data does not reach: give it a cleared one.
    QImage image;
    if (reader.imageFormat() != QImage::Format_Invalid) {
        image = QImage(size, reader.imageFormat());
        if (image.isNull()) {
            RaiseError(Err::OutOfMemory);
        }
        image.fill(0u);
    }
    if (!reader.read(&image)) {
        RaiseError(Err::InvalidPicture);
    }
    return image;
}

void SaveBitmapFile(const QImage& image, int width, int height, const QString& path) {
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    const std::size_t dataBytes = rowBytes * static_cast<std::size_t>(height);
    constexpr std::size_t headerBytes = 54;
    if (dataBytes + headerBytes > 0xFFFFFFFFu) {
        RaiseError(Err::InvalidPropertyValue);
    }
    unsigned char header[headerBytes] = {'B', 'M'};
    put32(header + 2, static_cast<std::uint32_t>(headerBytes + dataBytes));
    put32(header + 10, headerBytes);
    put32(header + 14, 40);
    put32(header + 18, static_cast<std::uint32_t>(width));
    put32(header + 22, static_cast<std::uint32_t>(height));
    put16(header + 26, 1);
    put16(header + 28, 24);
    put32(header + 34, static_cast<std::uint32_t>(dataBytes));
    put32(header + 38, 3780);  // 96 dots per inch
    put32(header + 42, 3780);

    const std::filesystem::path target = ToFsPath(path);
    // A new file is written in place and removed again if the write fails; an existing one
    // is replaced by a rename, so it stays whole until the new one is. Either way no half
    // written file is left.
    std::filesystem::path written = target;
    int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno != EEXIST) {
            RaiseErrno(errno);
        }
        // A read-only file stays as it is, as a plain write would have left it.
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            RaiseError(Err::PermissionDenied);
        }
        if (S_ISDIR(st.st_mode)) {
            RaiseErrno(EISDIR);
        }
        written += ".tilvex-tmp";
        fd = ::open(written.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) {
            RaiseErrno(errno);
        }
    }

    // Rows go out bottom row first, a block at a time from one buffer kept between saves:
    // tiles come thousands at a time, and a sheet need not be held twice.
    thread_local std::vector<unsigned char> block;
    const int rowsPerBlock = static_cast<int>(std::max<std::size_t>(1, (std::size_t{1} << 20) / std::max<std::size_t>(rowBytes, 1)));
    const QRgb background = QColor(240, 240, 240).rgb();
    const int imageRows = std::min(height, image.height());
    const int imageColumns = std::min(width, image.width());
    bool ok = writeAll(fd, header, headerBytes);
    int failure = errno;
    for (int first = 0; ok && first < height; first += rowsPerBlock) {
        const int count = std::min(rowsPerBlock, height - first);
        block.resize(rowBytes * static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            const int y = height - 1 - (first + i);
            unsigned char* out = block.data() + rowBytes * static_cast<std::size_t>(i);
            const auto* in = y < imageRows ? reinterpret_cast<const QRgb*>(image.constScanLine(y)) : nullptr;
            const int fromImage = in != nullptr ? imageColumns : 0;
            for (int x = 0; x < width; ++x, out += 3) {
                const QRgb px = x < fromImage ? in[x] : background;
                out[0] = static_cast<unsigned char>(qBlue(px));
                out[1] = static_cast<unsigned char>(qGreen(px));
                out[2] = static_cast<unsigned char>(qRed(px));
            }
            std::fill(out, block.data() + rowBytes * static_cast<std::size_t>(i + 1), 0);
        }
        ok = writeAll(fd, block.data(), block.size());
        failure = errno;
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    if (!ok) {
        ::unlink(written.c_str());
        RaiseErrno(failure);
    }
    if (written != target && ::rename(written.c_str(), target.c_str()) != 0) {
        failure = errno;
        ::unlink(written.c_str());
        RaiseErrno(failure);
    }
}
