#include "platform/directdraw.h"

#include "platform/dibdecoder.h"
#include "platform/paths.h"
#include "platform/picture.h"
#include "platform/runtimeerror.h"
#include "platform/surfacememory.h"

#include <QPainter>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
// The whole file, or false when it is missing, no ordinary file or cannot be read.
bool readWholeFile(const QString& file, std::vector<unsigned char>& bytes) {
    // O_NONBLOCK: a FIFO under a tile's name must not hang the run waiting for a writer.
    const int fd = ::open(ToFsPath(file).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    // No bitmap the decoder takes is larger; a bigger file is not read into memory at all.
    constexpr off_t largest = static_cast<off_t>(MaxDibPixels * 4 + (1 << 20));
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 && st.st_size <= largest;
    if (ok) {
        bytes.resize(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        // A file that shrank while being read keeps what was there.
        bytes.resize(done);
    }
    ::close(fd);
    return ok;
}

int keyIndex(std::int32_t flags) {
    switch (flags) {
    case DDCKEY_DESTBLT: return 0;
    case DDCKEY_DESTOVERLAY: return 1;
    case DDCKEY_SRCBLT: return 2;
    case DDCKEY_SRCOVERLAY: return 3;
    default: return -1;
    }
}

std::function<void(const QString&)>& fileObserver() {
    static std::function<void(const QString&)> observer;
    return observer;
}

bool inverted(const RECT& r) { return r.Right < r.Left || r.Bottom < r.Top; }
}  // namespace

QImage ReadBitmapSurfaceImage(const QString& file) {
    std::vector<unsigned char> bytes;
    if (!readWholeFile(file, bytes)) {
        return QImage();
    }
    return DecodeDib(bytes.data(), bytes.size(), &NewSurfaceImage);
}

DirectDrawSurface7::DirectDrawSurface7(QImage image) : image_(std::move(image)) {}

void DirectDrawSurface7::SetColorKey(std::int32_t flags, const DDCOLORKEY& key) {
    const int index = keyIndex(flags);
    if (index < 0) {
        RaiseError(Err::E_INVALIDARG_);
    }
    keys_[index] = key;
    keysSet_ |= flags;
}

DDCOLORKEY DirectDrawSurface7::GetColorKey(std::int32_t flags, bool* hasKey) const {
    const int index = keyIndex(flags);
    if (index < 0) {
        RaiseError(Err::E_INVALIDARG_);
    }
    if (hasKey != nullptr) {
        *hasKey = (keysSet_ & flags) != 0;
    }
    return keys_[index];
}

void DirectDrawSurface7::BltToDC(Picture& dc, const RECT& src, const RECT& dest) const {
    if (inverted(src) || inverted(dest)) {
        RaiseError(Err::E_INVALIDARG_);
    }
    const std::int64_t w = std::int64_t{src.Right} - src.Left;
    const std::int64_t h = std::int64_t{src.Bottom} - src.Top;
    const std::int64_t dw = std::int64_t{dest.Right} - dest.Left;
    const std::int64_t dh = std::int64_t{dest.Bottom} - dest.Top;
    if (w == 0 || h == 0 || dw == 0 || dh == 0 || dc.Width() == 0 || dc.Height() == 0 || image_.isNull()) {
        return;
    }
    QImage& canvas = dc.Image();
    if (w != dw || h != dh) {
        QPainter painter(&canvas);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QRectF(dest.Left, dest.Top, dw, dh), image_, QRectF(src.Left, src.Top, w, h));
        return;
    }
    // Offsets (u, v) inside the rectangles that exist both on the surface and on the canvas.
    const std::int64_t u0 = std::max({std::int64_t{0}, -std::int64_t{src.Left}, -std::int64_t{dest.Left}});
    const std::int64_t v0 = std::max({std::int64_t{0}, -std::int64_t{src.Top}, -std::int64_t{dest.Top}});
    const std::int64_t u1 = std::min({w, image_.width() - std::int64_t{src.Left}, canvas.width() - std::int64_t{dest.Left}});
    const std::int64_t v1 = std::min({h, image_.height() - std::int64_t{src.Top}, canvas.height() - std::int64_t{dest.Top}});
    if (u1 <= u0 || v1 <= v0) {
        return;
    }
    for (std::int64_t v = v0; v < v1; ++v) {
        const auto* in = reinterpret_cast<const QRgb*>(image_.constScanLine(static_cast<int>(src.Top + v))) + (src.Left + u0);
        auto* out = reinterpret_cast<QRgb*>(canvas.scanLine(static_cast<int>(dest.Top + v))) + (dest.Left + u0);
        std::copy(in, in + (u1 - u0), out);
    }
}

void DirectDraw7::SetCooperativeLevel(std::uintptr_t, std::int32_t flags) {
    if ((flags & DDSCL_NORMAL) == 0 || (flags & DDSCL_EXCLUSIVE) != 0) {
        RaiseError(Err::E_INVALIDARG_);
    }
    level_ = flags;
}

std::unique_ptr<DirectDrawSurface7> DirectDraw7::CreateSurfaceFromFile(const QString& file, const DDSURFACEDESC2&) {
    if (fileObserver()) {
        fileObserver()(file);
    }
    QImage image = ReadBitmapSurfaceImage(file);
    if (image.isNull()) {
        RaiseError(Err::E_FAIL_);
    }
    return std::make_unique<DirectDrawSurface7>(std::move(image));
}

std::unique_ptr<DirectDraw7> DirectX7::DirectDrawCreate(const QString& guid) {
    if (!guid.isEmpty()) {
        RaiseError(Err::E_INVALIDARG_);
    }
    return std::make_unique<DirectDraw7>();
}

void SetSurfaceFileObserver(std::function<void(const QString&)> observer) { fileObserver() = std::move(observer); }
