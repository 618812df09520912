#include "platform/bitmapfile.h"

#include "platform/bitmapheader.h"
#include "platform/paths.h"
#include "platform/picture.h"
#include "platform/runtimeerror.h"

#include <QFile>
#include <QImageReader>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

// Writes and closes; on failure removes the file and raises the cause.
void writeOrRemove(int fd, const std::filesystem::path& name, const unsigned char* data, std::size_t size) {
    const bool written = writeAll(fd, data, size);
    const int writeErrno = errno;
    if (::close(fd) != 0 || !written) {
        const int err = written ? errno : writeErrno;
        ::unlink(name.c_str());
        RaiseErrno(err);
    }
}
}  // namespace

namespace {

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

bool readAt(int fd, char* data, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, size, offset);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

// Decodes a plain 24 or 32 bits per pixel bitmap straight into RGB32, a block of rows per
// read: the common form of a big sheet, and the one that must load fast.
QImage decodePlainTrueColour(int fd, const BitmapHeader& h) {
    const int width = h.width;
    const int rows = static_cast<int>(h.Rows());
    QImage image(width, rows, QImage::Format_RGB32);
    if (image.isNull()) {
        RaiseError(Err::OutOfMemory);
    }
    const std::size_t rowBytes = static_cast<std::size_t>(h.RowBytes());
    const int bytesPerPixel = h.bitCount / 8;
    const int rowsPerRead = static_cast<int>(std::max<std::size_t>(1, (std::size_t{4} << 20) / rowBytes));
    std::vector<char> block(rowBytes * static_cast<std::size_t>(std::min(rowsPerRead, rows)));
    for (int first = 0; first < rows; first += rowsPerRead) {
        const int count = std::min(rowsPerRead, rows - first);
        const off_t offset = static_cast<off_t>(h.dataOffset) + static_cast<off_t>(rowBytes) * first;
        if (!readAt(fd, block.data(), rowBytes * static_cast<std::size_t>(count), offset)) {
            RaiseError(Err::InvalidPicture);
        }
        for (int i = 0; i < count; ++i) {
            const int stored = first + i;
            const int y = h.TopDown() ? stored : rows - 1 - stored;
            const auto* in = reinterpret_cast<const unsigned char*>(block.data()) + rowBytes * static_cast<std::size_t>(i);
            auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < width; ++x, in += bytesPerPixel) {
                out[x] = 0xFF000000u | static_cast<QRgb>(in[2]) << 16 | static_cast<QRgb>(in[1]) << 8 | in[0];
            }
        }
    }
    return image;
}

// Checks a bitmap's header against the file before anything is allocated for it: a header
// may claim any size, the file must hold it.
void checkBitmapClaims(const BitmapHeader& h, std::int64_t fileSize) {
    const std::int64_t width = h.width < 0 ? -static_cast<std::int64_t>(h.width) : h.width;
    if (width > Picture::MaxSide || h.Rows() > Picture::MaxSide) {
        RaiseError(Err::InvalidPicture);
    }
    if (h.Uncompressed() && static_cast<std::int64_t>(h.dataOffset) + h.RowBytes() * h.Rows() > fileSize) {
        RaiseError(Err::InvalidPicture);
    }
}

// Compressed data may stand for a picture far bigger than the file; real files stay well
// below this ratio, while a tiny file claiming a huge size does not.
constexpr std::int64_t kMaxBytesPerFileByte = 2048;
constexpr std::int64_t kAlwaysAllowedBytes = std::int64_t{64} << 20;

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
        checkBitmapClaims(*header, st.st_size);
        if (header->PlainTrueColour()) {
            return decodePlainTrueColour(file.get(), *header);
        }
    }

    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    // A top-down bitmap reports a negative height here.
    const QSize size(std::abs(reader.size().width()), std::abs(reader.size().height()));
    if (size.isEmpty() || size.width() > Picture::MaxSide || size.height() > Picture::MaxSide) {
        RaiseError(Err::InvalidPicture);
    }
    const std::int64_t bytes = std::int64_t{4} * size.width() * size.height();
    if (bytes > kAlwaysAllowedBytes + kMaxBytesPerFileByte * static_cast<std::int64_t>(st.st_size)) {
        RaiseError(Err::InvalidPicture);
    }
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
    std::vector<unsigned char> file(headerBytes + dataBytes, 0);
    unsigned char* h = file.data();
    h[0] = 'B';
    h[1] = 'M';
    put32(h + 2, static_cast<std::uint32_t>(file.size()));
    put32(h + 10, headerBytes);
    put32(h + 14, 40);
    put32(h + 18, static_cast<std::uint32_t>(width));
    put32(h + 22, static_cast<std::uint32_t>(height));
    put16(h + 26, 1);
    put16(h + 28, 24);
    put32(h + 34, static_cast<std::uint32_t>(dataBytes));
    put32(h + 38, 3780);  // 96 dots per inch
    put32(h + 42, 3780);

    const QRgb background = QColor(240, 240, 240).rgb();
    for (int y = 0; y < height; ++y) {
        unsigned char* out = file.data() + headerBytes + rowBytes * static_cast<std::size_t>(height - 1 - y);
        const bool inImage = y < image.height();
        const auto* in = inImage ? reinterpret_cast<const QRgb*>(image.constScanLine(y)) : nullptr;
        for (int x = 0; x < width; ++x) {
            const QRgb px = (inImage && x < image.width()) ? in[x] : background;
            out[3 * x] = static_cast<unsigned char>(qBlue(px));
            out[3 * x + 1] = static_cast<unsigned char>(qGreen(px));
            out[3 * x + 2] = static_cast<unsigned char>(qRed(px));
        }
    }

    const std::filesystem::path target = ToFsPath(path);
    // A new file is written in place and removed again if the write fails; an existing one
    // is replaced by a rename, so it stays whole until the new one is. Either way no half
    // written file is left.
    const int fresh = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fresh >= 0) {
        writeOrRemove(fresh, target, file.data(), file.size());
        return;
    }
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
    std::filesystem::path temp = target;
    temp += ".tilvex-tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        RaiseErrno(errno);
    }
    writeOrRemove(fd, temp, file.data(), file.size());
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        RaiseErrno(err);
    }
}
