#include "imaging/bitmapfile.h"

#include "imaging/dibdecoder.h"
#include "imaging/picture.h"
#include "imaging/surfacememory.h"
#include "runtime/atomicfile.h"
#include "runtime/descriptor.h"
#include "runtime/limits.h"
#include "runtime/parallel.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"

#include <QImageReader>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
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
    explicit FileBytes(std::size_t size) : data_(static_cast<unsigned char*>(HugePageMemory(size))) {
        if (data_ == nullptr) {
            throw std::bad_alloc();
        }
    }
    ~FileBytes() { std::free(data_); }
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    unsigned char* Data() const { return data_; }

private:
    unsigned char* data_;
};

// Rows first to first + count - 1 of an uncompressed 24-bit file (row 0 at the top), read
// straight into the first rows of a BGR888 image, whose rows are padded as the file's are.
void readBand(int fd, const DibRows& rows, int first, int count, QImage& into) {
    std::vector<iovec> parts;
    parts.reserve(static_cast<std::size_t>(count));
    // In the file's order: a bottom-up file holds the band's last row first.
    const int stored = rows.bottomUp ? rows.height - first - count : first;
    for (int i = 0; i < count; ++i) {
        parts.push_back(iovec{into.scanLine(rows.bottomUp ? count - 1 - i : i), rows.rowBytes});
    }
    // The last row may come without its padding; every pixel must be there. A file that
    // shrinks meanwhile reads short and is refused as cut.
    const bool last = stored + count == rows.height;
    const std::size_t needed = rows.rowBytes * static_cast<std::size_t>(count) -
                               (last ? rows.rowBytes - static_cast<std::size_t>(rows.width) * 3 : 0);
    const long got = ReadAllParts(fd, parts.data(), parts.size(),
                                  static_cast<std::int64_t>(rows.start + rows.rowBytes * static_cast<std::size_t>(stored)));
    if (got < 0) {
        RaiseErrno(errno);
    }
    if (static_cast<std::size_t>(got) < needed) {
        RaiseError(Err::InvalidPicture);
    }
}

// The rows of an uncompressed 24-bit file, read straight into the image's memory: no second
// copy of the file is held. With more than one core, each reads its share of the rows.
QImage readRows(int fd, const DibRows& rows) {
    QImage image = NewSurfaceImage(rows.width, rows.height, QImage::Format_BGR888);
    if (image.isNull()) {
        throw std::bad_alloc();
    }
    // Shares of at least 8 MB: smaller ones are not worth a thread.
    const std::size_t bytes = rows.rowBytes * static_cast<std::size_t>(rows.height);
    const int shares = static_cast<int>(std::clamp<std::size_t>(bytes >> 23, 1, static_cast<std::size_t>(WorkerCount())));
    ParallelFor(static_cast<std::size_t>(shares), [&](std::size_t share) {
        const int first = static_cast<int>(static_cast<std::int64_t>(rows.height) * static_cast<int>(share) / shares);
        const int end = static_cast<int>(static_cast<std::int64_t>(rows.height) * (static_cast<int>(share) + 1) / shares);
        QImage band(image.scanLine(first), rows.width, end - first, image.bytesPerLine(), QImage::Format_BGR888);
        readBand(fd, rows, first, end - first, band);
    });
    return image;
}

// What the file is: a bitmap whose rows lie plain in it (rows then says where), another
// bitmap, or no bitmap at all. A bitmap whose header does not hold together raises 481.
enum class BitmapKind { Plain, Other, None };
BitmapKind bitmapKind(int fd, std::int64_t fileSize, DibRows& rows) {
    const auto size = static_cast<std::size_t>(fileSize);
    const std::uint64_t mostPixels = MostPixelsFor(fileSize);
    unsigned char head[DibHeaderBytes];
    const long headBytes = ReadAll(fd, head, std::min(size, sizeof head), 0);
    if (headBytes < 0) {
        RaiseErrno(errno);
    }
    if (headBytes < 2 || head[0] != 'B' || head[1] != 'M') {
        return BitmapKind::None;
    }
    // A file whose header does not hold together costs no more than its header.
    if (static_cast<std::size_t>(headBytes) < std::min(size, sizeof head) || !DibHeaderFits(head, size, mostPixels)) {
        RaiseError(Err::InvalidPicture);
    }
    return PlainDibRows(head, size, mostPixels, rows) ? BitmapKind::Plain : BitmapKind::Other;
}

}  // namespace

BitmapBands::BitmapBands(int fd, std::int64_t fileSize) : fd_(fd) {
    plain_ = bitmapKind(fd, fileSize, rows_) == BitmapKind::Plain;
}

void BitmapBands::Read(int first, int count, QImage& into) const { readBand(fd_, rows_, first, count, into); }

std::uint64_t MostPixelsFor(std::int64_t fileSize) {
    constexpr std::int64_t alwaysAllowedBytes = std::int64_t{64} << 20;
    constexpr std::int64_t bytesPerFileByte = 2048;
    constexpr std::uint64_t largestCanvas = std::uint64_t{Limits::PictureSide} * Limits::PictureSide;
    return std::min(largestCanvas, static_cast<std::uint64_t>(alwaysAllowedBytes + bytesPerFileByte * fileSize) / 4);
}

QImage LoadBitmapFile(const QString& path) {
    std::int64_t fileSize = 0;
    const Descriptor file(OpenRegularFile(path, fileSize));
    const auto size = static_cast<std::size_t>(fileSize);
    const std::uint64_t mostPixels = MostPixelsFor(fileSize);
    DibRows rows;
    const BitmapKind kind = AboutFile(path, [&] { return bitmapKind(file.get(), fileSize, rows); });
    if (kind == BitmapKind::Plain) {
        return AboutFile(path, [&] { return readRows(file.get(), rows); });
    }
    if (kind == BitmapKind::Other) {
        const FileBytes bytes(size);
        // A file that shrinks meanwhile reads short and is then refused as cut.
        const long got = ReadAll(file.get(), bytes.Data(), size, 0);
        if (got < 0) {
            RaiseErrno(errno, path);
        }
        const QImage image = DecodeDib(bytes.Data(), static_cast<std::size_t>(got), &NewSurfaceImage, mostPixels);
        if (image.isNull()) {
            RaiseError(Err::InvalidPicture, path);
        }
        return image;
    }

    // Other formats under a bitmap's name go to the toolkit's readers.
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    // A top-down picture reports a negative height here.
    const QSize claimed(std::abs(reader.size().width()), std::abs(reader.size().height()));
    if (claimed.isEmpty() || static_cast<std::uint64_t>(claimed.width()) * claimed.height() > mostPixels) {
        RaiseError(Err::InvalidPicture, path);
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
        RaiseError(Err::InvalidPicture, path);
    }
    return image;
}

namespace {
constexpr std::size_t HeaderBytes = BitmapHeaderBytes;

std::size_t fileRowBytes(int width) { return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3}; }

// The file header and info header of a width by height 24-bit bottom-up bitmap.
void writeHeader(unsigned char* header, int width, int height) {
    const std::size_t dataBytes = fileRowBytes(width) * static_cast<std::size_t>(height);
    if (dataBytes + HeaderBytes > 0xFFFFFFFFu) {
        RaiseError(Err::InvalidPropertyValue);
    }
    std::fill_n(header, HeaderBytes, 0);
    header[0] = 'B';
    header[1] = 'M';
    put32(header + 2, static_cast<std::uint32_t>(HeaderBytes + dataBytes));
    put32(header + 10, HeaderBytes);
    put32(header + 14, 40);
    put32(header + 18, static_cast<std::uint32_t>(width));
    put32(header + 22, static_cast<std::uint32_t>(height));
    put16(header + 26, 1);
    put16(header + 28, 24);
    put32(header + 34, static_cast<std::uint32_t>(dataBytes));
    put32(header + 38, 3780);  // 96 dots per inch
    put32(header + 42, 3780);
}

// Rows first to first + count - 1 of the file (row 0 is the bottom one), padded; pixels
// outside the image are the background.
void encodeRows(const QImage& image, int width, int height, int first, int count, unsigned char* out) {
    const std::size_t rowBytes = fileRowBytes(width);
    const QRgb background = QColor(240, 240, 240).rgb();
    const bool narrow = image.format() == QImage::Format_BGR888;
    const int imageRows = std::min(height, image.height());
    const int imageColumns = std::min(width, image.width());
    for (int i = 0; i < count; ++i, out += rowBytes) {
        const int y = height - 1 - (first + i);
        const int fromImage = y < imageRows ? imageColumns : 0;
        unsigned char* px = out;
        if (narrow && fromImage > 0) {
            std::memcpy(px, image.constScanLine(y), static_cast<std::size_t>(fromImage) * 3);
            px += static_cast<std::size_t>(fromImage) * 3;
        } else if (fromImage > 0) {
            const auto* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < fromImage; ++x, px += 3) {
                px[0] = static_cast<unsigned char>(qBlue(in[x]));
                px[1] = static_cast<unsigned char>(qGreen(in[x]));
                px[2] = static_cast<unsigned char>(qRed(in[x]));
            }
        }
        for (int x = fromImage; x < width; ++x, px += 3) {
            px[0] = static_cast<unsigned char>(qBlue(background));
            px[1] = static_cast<unsigned char>(qGreen(background));
            px[2] = static_cast<unsigned char>(qRed(background));
        }
        std::fill(px, out + rowBytes, 0);
    }
}

// The image as the encoder reads it: RGB32 or BGR888.
QImage readable(const QImage& image) {
    if (image.isNull() || image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_BGR888) {
        return image;
    }
    QImage converted = image.convertToFormat(QImage::Format_RGB32);
    if (converted.isNull()) {
        RaiseError(Err::OutOfMemory);
    }
    return converted;
}

// Whether the image's rows are the file's rows as they lie in memory: 24-bit, the file's
// width, and no padding to add.
bool rowsAsInFile(const QImage& image, int width) {
    return image.format() == QImage::Format_BGR888 && image.width() == width &&
           fileRowBytes(width) == static_cast<std::size_t>(width) * 3;
}

// Adds the image's first count rows to parts, bottom row first, as the file holds them.
void addRowsBottomUp(std::vector<iovec>& parts, const QImage& image, int count) {
    const std::size_t rowBytes = fileRowBytes(image.width());
    for (int y = count - 1; y >= 0; --y) {
        parts.push_back(iovec{const_cast<uchar*>(image.constScanLine(y)), rowBytes});
    }
}
}  // namespace

void EncodeBitmapFile(const QImage& image, int width, int height, std::vector<unsigned char>& bytes) {
    const QImage source = readable(image);
    bytes.resize(HeaderBytes + fileRowBytes(width) * static_cast<std::size_t>(height));
    writeHeader(bytes.data(), width, height);
    encodeRows(source, width, height, 0, height, bytes.data() + HeaderBytes);
}

void SaveBitmapFile(const QImage& image, int width, int height, const QString& path) {
    unsigned char header[HeaderBytes];
    writeHeader(header, width, height);
    const QImage source = readable(image);
    AtomicFile file;
    if (!file.Open(ToFsPath(path))) {
        RaiseWriteErrno(errno, path);
    }
    const std::size_t rowBytes = fileRowBytes(width);
    bool ok = true;
    if (rowsAsInFile(source, width) && source.height() == height) {
        // Rows that need no padding go out of the image's own memory, bottom row first,
        // behind the header, in as few calls as the system allows.
        std::vector<iovec> parts;
        parts.reserve(static_cast<std::size_t>(height) + 1);
        parts.push_back(iovec{header, HeaderBytes});
        addRowsBottomUp(parts, source, height);
        ok = WriteAllParts(file.Fd(), parts.data(), parts.size());
    } else {
        // Otherwise a block of rows at a time from one buffer, the header leading the first.
        const int rowsPerBlock = static_cast<int>(std::max<std::size_t>(1, (std::size_t{1} << 20) / std::max<std::size_t>(rowBytes, 1)));
        std::vector<unsigned char> block;
        std::size_t lead = HeaderBytes;
        for (int first = 0; ok && (first < height || lead > 0); first += rowsPerBlock) {
            const int count = std::max(0, std::min(rowsPerBlock, height - first));
            block.resize(lead + rowBytes * static_cast<std::size_t>(count));
            std::copy_n(header, lead, block.data());
            encodeRows(source, width, height, first, count, block.data() + lead);
            ok = WriteAll(file.Fd(), block.data(), block.size());
            lead = 0;
        }
    }
    if (!ok || !file.Commit()) {
        RaiseWriteErrno(errno, path);
    }
}

void EncodeBitmapHeader(int width, int height, unsigned char* header) { writeHeader(header, width, height); }

void WriteBitmapRows(int fd, const QImage& band, int width, int height, int top, std::vector<unsigned char>& buffer) {
    const QImage source = readable(band);
    const std::size_t rowBytes = fileRowBytes(width);
    const int count = band.height();
    const std::size_t at = HeaderBytes + rowBytes * static_cast<std::size_t>(height - top - count);
    if (rowsAsInFile(source, width)) {
        // Rows that need no padding go out of the band's own memory, bottom row first.
        std::vector<iovec> parts;
        parts.reserve(static_cast<std::size_t>(count));
        addRowsBottomUp(parts, source, count);
        if (::lseek(fd, static_cast<off_t>(at), SEEK_SET) < 0 || !WriteAllParts(fd, parts.data(), parts.size())) {
            RaiseErrno(errno);
        }
        return;
    }
    buffer.resize(rowBytes * static_cast<std::size_t>(count));
    // The band as a picture of its own: its bottom row comes first, where the file holds it.
    encodeRows(source, width, count, 0, count, buffer.data());
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t n = ::pwrite(fd, buffer.data() + done, buffer.size() - done, static_cast<off_t>(at + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            RaiseErrno(n < 0 ? errno : ENOSPC);
        }
        done += static_cast<std::size_t>(n);
    }
}
