#include "surfaces/directdraw.h"

#include "imaging/dibdecoder.h"
#include "imaging/picture.h"
#include "imaging/pixelcopy.h"
#include "imaging/surfacememory.h"
#include "runtime/descriptor.h"
#include "runtime/runtimeerror.h"
#include "surfaces/bitmapsahead.h"

#include <QFile>
#include <QPainter>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <memory>

namespace {
// Tiles are small: one read call takes the whole file into a buffer of this size.
constexpr std::size_t SmallFile = std::size_t{64} << 10;
// No bitmap the decoder takes is larger; a bigger file is not read into memory at all.
constexpr off_t LargestFile = static_cast<off_t>(MaxDibPixels * 4 + (1 << 20));

// Bytes read from a file, in memory that is kept from one tile to the next and never cleared
// first: tiles come thousands at a time.
class FileBytes {
public:
    unsigned char* Data() { return data_.get(); }
    std::size_t Size() const { return size_; }
    void SetSize(std::size_t size) { size_ = size; }
    // Room for at least capacity bytes, keeping the first Size() of them.
    void Reserve(std::size_t capacity) {
        if (capacity <= capacity_) {
            return;
        }
        std::unique_ptr<unsigned char[]> larger(new unsigned char[capacity]);
        std::copy_n(data_.get(), size_, larger.get());
        data_ = std::move(larger);
        capacity_ = capacity;
    }
    // Gives back the memory of a large file.
    void Trim(std::size_t keep) {
        if (capacity_ > keep) {
            data_.reset();
            capacity_ = 0;
            size_ = 0;
        }
    }

private:
    std::unique_ptr<unsigned char[]> data_;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
};

// The whole file into bytes, or false when it is missing, no ordinary file, too large or
// unreadable. A read that stops short of the buffer is the end of an ordinary file; a folder
// fails to read, and a FIFO or device either gives no bitmap or fills the buffer and is then
// refused as no ordinary file.
bool readWholeFile(const QString& file, FileBytes& bytes) {
    bytes.SetSize(0);
    // O_NONBLOCK: a FIFO under a tile's name must not hang the run waiting for a writer.
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    bytes.Reserve(SmallFile);
    // One call: a second one only to be told of the end would cost as much again.
    long first = -1;
    do {
        first = static_cast<long>(::pread(fd, bytes.Data(), SmallFile, 0));
    } while (first < 0 && errno == EINTR);
    bool ok = first >= 0;
    std::size_t done = ok ? static_cast<std::size_t>(first) : 0;
    if (ok && done == SmallFile) {
        struct stat st {};
        // A big file whose header does not hold together is not read any further.
        ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= LargestFile &&
             DibHeaderFits(bytes.Data(), static_cast<std::size_t>(st.st_size));
        if (ok) {
            const std::size_t size = std::max(static_cast<std::size_t>(st.st_size), SmallFile);
            bytes.SetSize(done);
            bytes.Reserve(size);
            // A file that changes while being read keeps what was read.
            const long rest = ReadAll(fd, bytes.Data() + done, size - done, static_cast<std::int64_t>(done));
            ok = rest >= 0;
            done += ok ? static_cast<std::size_t>(rest) : 0;
        }
    }
    ::close(fd);
    bytes.SetSize(ok ? done : 0);
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
    // One buffer for every tile of a run on each thread; a large file's memory is given back afterwards.
    thread_local FileBytes bytes;
    QImage image;
    if (readWholeFile(file, bytes)) {
        image = DecodeDib(bytes.Data(), bytes.Size(), &NewSurfaceImage);
    }
    bytes.Trim(SmallFile);
    return image;
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
    CopyPixels(image_, static_cast<int>(src.Left + u0), static_cast<int>(src.Top + v0), canvas,
               static_cast<int>(dest.Left + u0), static_cast<int>(dest.Top + v0), static_cast<int>(u1 - u0),
               static_cast<int>(v1 - v0));
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
    std::optional<QImage> ahead = ahead_ ? ahead_->Take(file) : std::nullopt;
    QImage image = ahead ? std::move(*ahead) : ReadBitmapSurfaceImage(file);
    if (image.isNull()) {
        RaiseError(Err::E_FAIL_);
    }
    return std::make_unique<DirectDrawSurface7>(std::move(image));
}

DirectDraw7::DirectDraw7() = default;

DirectDraw7::~DirectDraw7() = default;

void DirectDraw7::ReadAhead(std::vector<QString> files) {
    if (!ahead_) {
        ahead_ = std::make_unique<BitmapsAhead>(&ReadBitmapSurfaceImage);
    }
    ahead_->Read(std::move(files));
}

std::unique_ptr<DirectDraw7> DirectX7::DirectDrawCreate(const QString& guid) {
    if (!guid.isEmpty()) {
        RaiseError(Err::E_INVALIDARG_);
    }
    return std::make_unique<DirectDraw7>();
}

void SetSurfaceFileObserver(std::function<void(const QString&)> observer) { fileObserver() = std::move(observer); }
