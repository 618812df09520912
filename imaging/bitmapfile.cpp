#include "imaging/bitmapfile.h"

#include "imaging/dibdecoder.h"
#include "imaging/picture.h"
#include "imaging/surfacememory.h"
#include "runtime/atomicfile.h"
#include "runtime/descriptor.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"

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
#include <new>
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

// A file's bytes, read into memory of our own: a mapping would kill the process when the file
// shrinks under it, and the bytes are read only after the header has been checked.
class FileBytes {
public:
    explicit FileBytes(std::size_t size) {
        constexpr std::size_t hugePage = std::size_t{2} << 20;
        const std::size_t rounded = (std::max<std::size_t>(size, 1) + hugePage - 1) / hugePage * hugePage;
        data_ = static_cast<unsigned char*>(std::aligned_alloc(hugePage, rounded));
        if (data_ == nullptr) {
            throw std::bad_alloc();
        }
        // A big sheet then costs a few hundred page faults instead of one per 4 KiB.
        ::madvise(data_, rounded, MADV_HUGEPAGE);
    }
    ~FileBytes() { std::free(data_); }
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    unsigned char* Data() const { return data_; }

private:
    unsigned char* data_;
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
    unsigned char head[DibHeaderBytes];
    const long headBytes = ReadAll(file.get(), head, std::min(size, sizeof head), 0);
    if (headBytes < 0) {
        RaiseErrno(errno);
    }
    if (headBytes >= 2 && head[0] == 'B' && head[1] == 'M') {
        // A file whose header does not hold together costs no more than its header.
        if (static_cast<std::size_t>(headBytes) < std::min(size, sizeof head) ||
            !DibHeaderFits(head, size, mostPixels)) {
            RaiseError(Err::InvalidPicture);
        }
        const FileBytes bytes(size);
        // A file that shrinks meanwhile reads short and is then refused as cut.
        const long got = ReadAll(file.get(), bytes.Data(), size, 0);
        if (got < 0) {
            RaiseErrno(errno);
        }
        const QImage image = DecodeDib(bytes.Data(), static_cast<std::size_t>(got), &NewSurfaceImage, mostPixels);
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

    AtomicFile file;
    if (!file.Open(ToFsPath(path))) {
        RaiseErrno(errno);
    }
    // Rows go out bottom row first, a block at a time from one buffer kept between saves:
    // tiles come thousands at a time, and a sheet need not be held twice. The header leads
    // the first block, so a tile is one write.
    thread_local std::vector<unsigned char> block;
    const int rowsPerBlock = static_cast<int>(std::max<std::size_t>(1, (std::size_t{1} << 20) / std::max<std::size_t>(rowBytes, 1)));
    const QRgb background = QColor(240, 240, 240).rgb();
    const int imageRows = std::min(height, image.height());
    const int imageColumns = std::min(width, image.width());
    std::size_t lead = headerBytes;
    bool ok = true;
    for (int first = 0; ok && (first < height || lead > 0); first += rowsPerBlock) {
        const int count = std::max(0, std::min(rowsPerBlock, height - first));
        block.resize(lead + rowBytes * static_cast<std::size_t>(count));
        std::copy_n(header, lead, block.data());
        for (int i = 0; i < count; ++i) {
            const int y = height - 1 - (first + i);
            unsigned char* const rowStart = block.data() + lead + rowBytes * static_cast<std::size_t>(i);
            unsigned char* out = rowStart;
            const auto* in = y < imageRows ? reinterpret_cast<const QRgb*>(image.constScanLine(y)) : nullptr;
            const int fromImage = in != nullptr ? imageColumns : 0;
            for (int x = 0; x < width; ++x, out += 3) {
                const QRgb px = x < fromImage ? in[x] : background;
                out[0] = static_cast<unsigned char>(qBlue(px));
                out[1] = static_cast<unsigned char>(qGreen(px));
                out[2] = static_cast<unsigned char>(qRed(px));
            }
            std::fill(out, rowStart + rowBytes, 0);
        }
        ok = WriteAll(file.Fd(), block.data(), block.size());
        lead = 0;
    }
    if (!ok || !file.Commit()) {
        RaiseErrno(errno);
    }
}
