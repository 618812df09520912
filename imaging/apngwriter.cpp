#include "imaging/apngwriter.h"

#include "imaging/pngchunks.h"
#include "imaging/pngwriter.h"
#include "runtime/atomicfile.h"
#include "runtime/descriptor.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"

#include <cerrno>

#include <numeric>

namespace {
std::uint32_t big32(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return std::uint32_t{u[0]} << 24 | std::uint32_t{u[1]} << 16 | std::uint32_t{u[2]} << 8 | u[3];
}

// The rectangle where two frames of one size differ; empty where they are equal.
QRect changed(const QImage& before, const QImage& after) {
    int top = after.height(), bottom = -1, left = after.width(), right = -1;
    for (int y = 0; y < after.height(); ++y) {
        const auto* a = reinterpret_cast<const quint32*>(before.constScanLine(y));
        const auto* b = reinterpret_cast<const quint32*>(after.constScanLine(y));
        int x = 0;
        while (x < after.width() && a[x] == b[x]) {
            ++x;
        }
        if (x == after.width()) {
            continue;
        }
        int last = after.width() - 1;
        while (a[last] == b[last]) {
            --last;
        }
        top = std::min(top, y);
        bottom = y;
        left = std::min(left, x);
        right = std::max(right, last);
    }
    return bottom < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}
}  // namespace

ApngWriter::ApngWriter(const QString& path, int width, int height, int frames)
    : path_(path), file_(std::make_unique<AtomicFile>()), width_(width), height_(height), frames_(frames) {
    if (width <= 0 || height <= 0 || frames <= 0) {
        RaiseError(Err::InvalidCall);
    }
    if (!file_->Open(ToFsPath(path_))) {
        RaiseWriteErrno(errno, path_);
    }
    QByteArray head = PngHead(width, height, {}, false);
    unsigned char actl[8];
    PutBig32(actl, static_cast<std::uint32_t>(frames));
    PutBig32(actl + 4, 0);  // plays for ever
    AppendPngChunk(head, "acTL", actl, sizeof actl);
    write(head);
}

ApngWriter::~ApngWriter() = default;

void ApngWriter::write(const QByteArray& bytes) {
    if (!WriteAll(file_->Fd(), bytes.constData(), static_cast<std::size_t>(bytes.size()))) {
        RaiseWriteErrno(errno, path_);
    }
}

void ApngWriter::AddFrame(const QImage& frame, std::uint16_t delayNum, std::uint16_t delayDen) {
    if (added_ == frames_ || frame.size() != QSize(width_, height_) || frame.format() != QImage::Format_RGBA8888 || delayDen == 0) {
        RaiseError(Err::InvalidCall);
    }
    QRect area(0, 0, width_, height_);
    if (added_ > 0) {
        area = changed(previous_, frame);
        if (area.isEmpty()) {
            area = QRect(0, 0, 1, 1);  // a frame must hold a pixel
        }
    }
    // Each chunk goes to the file as it is made: a frame's data is held once.
    const auto put = [&](const char* type, const void* data, std::size_t size) {
        QByteArray chunk;
        AppendPngChunk(chunk, type, data, size);
        write(chunk);
    };
    unsigned char fctl[26];
    PutBig32(fctl, sequence_++);
    PutBig32(fctl + 4, static_cast<std::uint32_t>(area.width()));
    PutBig32(fctl + 8, static_cast<std::uint32_t>(area.height()));
    PutBig32(fctl + 12, static_cast<std::uint32_t>(area.x()));
    PutBig32(fctl + 16, static_cast<std::uint32_t>(area.y()));
    fctl[20] = static_cast<unsigned char>(delayNum >> 8);
    fctl[21] = static_cast<unsigned char>(delayNum);
    fctl[22] = static_cast<unsigned char>(delayDen >> 8);
    fctl[23] = static_cast<unsigned char>(delayDen);
    fctl[24] = 0;  // dispose: none, the next frame is drawn over this one
    fctl[25] = 0;  // blend: source, the rectangle replaces what is under it
    put("fcTL", fctl, sizeof fctl);

    // The image data of the rectangle as the PNG encoder makes it, moved into this file.
    const QImage part = area.size() == frame.size() ? frame : frame.copy(area);
    const QByteArray png = EncodePng(part, ChooseFilters(part, 0, part.height()));
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const std::uint32_t length = big32(png.constData() + at);
        const QByteArray type = png.mid(at + 4, 4);
        const char* data = png.constData() + at + 8;
        if (type == "IDAT") {
            if (added_ == 0) {
                put("IDAT", data, length);
            } else {
                QByteArray fdat(4, '\0');
                PutBig32(reinterpret_cast<unsigned char*>(fdat.data()), sequence_++);
                fdat.append(data, static_cast<qsizetype>(length));
                put("fdAT", fdat.constData(), static_cast<std::size_t>(fdat.size()));
            }
        }
        at += 12 + static_cast<qsizetype>(length);
    }
    previous_ = frame;
    ++added_;
}

void ApngWriter::Commit() {
    if (added_ != frames_) {
        RaiseError(Err::InvalidCall);
    }
    write(PngTail());
    previous_ = QImage();
    if (!file_->Commit()) {
        RaiseWriteErrno(errno, path_);
    }
}

std::vector<ApngDelay> ApngDelaysOf(std::int64_t ms) {
    std::vector<ApngDelay> parts;
    do {
        const std::int64_t part = std::min<std::int64_t>(ms, 65535);
        const std::int64_t g = part == 0 ? 1000 : std::gcd(part, std::int64_t{1000});
        parts.push_back({static_cast<std::uint16_t>(part / g), static_cast<std::uint16_t>(1000 / g)});
        ms -= part;
    } while (ms > 0);
    return parts;
}
