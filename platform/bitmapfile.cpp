#include "platform/bitmapfile.h"

#include "platform/descriptor.h"
#include "platform/dibdecoder.h"
#include "platform/paths.h"
#include "platform/picture.h"
#include "platform/runtimeerror.h"
#include "platform/surfacememory.h"

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

}  // namespace

std::uint64_t MostPixelsFor(std::int64_t fileSize) {
    constexpr std::int64_t alwaysAllowedBytes = std::int64_t{64} << 20;
    constexpr std::int64_t bytesPerFileByte = 2048;
    constexpr std::uint64_t largestCanvas = std::uint64_t{Picture::MaxSide} * Picture::MaxSide;
    return std::min(largestCanvas, static_cast<std::uint64_t>(alwaysAllowedBytes + bytesPerFileByte * fileSize) / 4);
}

QImage LoadBitmapFile(const QString& path) {
    std::int64_t fileSize = 0;
    const Descriptor file(OpenRegularFile(path, fileSize));
    const auto size = static_cast<std::size_t>(fileSize);
    const std::uint64_t mostPixels = MostPixelsFor(fileSize);
    char signature[2] = {};
    if (::pread(file.get(), signature, sizeof signature, 0) == 2 && signature[0] == 'B' && signature[1] == 'M') {
        const MappedFile bytes(file.get(), size);
        if (bytes.Data() == nullptr) {
            RaiseErrno(errno);
        }
        // The decoder checks the header's claims against the file before it allocates.
        const QImage image = DecodeDib(bytes.Data(), size, &NewSurfaceImage, mostPixels);
        if (image.isNull()) {
            RaiseError(Err::InvalidPicture);
        }
        return image;
    }

    // Other formats under a bitmap's name go to the toolkit's readers.
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    // A top-down picture reports a negative height here.
    const QSize claimed(std::abs(reader.size().width()), std::abs(reader.size().height()));
    if (claimed.isEmpty() || static_cast<std::uint64_t>(claimed.width()) * claimed.height() > mostPixels) {
        RaiseError(Err::InvalidPicture);
    }
    const std::int64_t bytes = std::int64_t{4} * claimed.width() * claimed.height();
    // Qt refuses big images unless told otherwise; this one has passed the checks above.
    QImageReader::setAllocationLimit(static_cast<int>(std::min<std::int64_t>(bytes >> 20, 1 << 20)) + 64);
    // The reader decodes into an image of the right size and format that it is given, and
    // leaves alone what broken or cut data does not reach: give it a cleared one.
    QImage image;
    if (reader.imageFormat() != QImage::Format_Invalid) {
        image = QImage(claimed, reader.imageFormat());
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
    bool ok = WriteAll(fd, header, headerBytes);
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
        ok = WriteAll(fd, block.data(), block.size());
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
