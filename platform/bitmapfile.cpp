#include "platform/bitmapfile.h"

#include "platform/paths.h"
#include "platform/runtimeerror.h"

#include <QFile>
#include <QImageReader>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
}  // namespace

QImage LoadBitmapFile(const QString& path) {
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    QImage image;
    if (!reader.read(&image)) {
        if (reader.error() == QImageReader::FileNotFoundError) {
            RaiseError(Err::FileNotFound);
        }
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
    // A read-only file stays as it is, as a plain write would have left it.
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        RaiseError(Err::PermissionDenied);
    }
    std::filesystem::path temp = target;
    temp += ".tilvex-tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        RaiseErrno(errno);
    }
    const bool written = writeAll(fd, file.data(), file.size());
    const int writeErrno = errno;
    if (::close(fd) != 0 || !written) {
        const int err = written ? errno : writeErrno;
        ::unlink(temp.c_str());
        RaiseErrno(err);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        RaiseErrno(err);
    }
}
