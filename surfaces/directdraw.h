#pragma once

#include <QImage>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class BitmapsAhead;
class Picture;

// A small image layer with the names and calls of DirectDraw 7 as the converter uses them.
// Surfaces live in system memory as RGB32 images, or BGR888 ones made from 24-bit files.
// Every failure is a RuntimeError with a negative number (an HRESULT read as signed 32-bit),
// as the real component reports them.

constexpr std::int32_t DDSCL_NORMAL = 8;
constexpr std::int32_t DDSCL_EXCLUSIVE = 0x10;
constexpr std::int32_t DDSD_CAPS = 1;
constexpr std::int32_t DDSCAPS_OFFSCREENPLAIN = 0x40;
constexpr std::int32_t DDSCAPS_SYSTEMMEMORY = 0x800;
constexpr std::int32_t DDCKEY_DESTBLT = 2;
constexpr std::int32_t DDCKEY_DESTOVERLAY = 4;
constexpr std::int32_t DDCKEY_SRCBLT = 8;
constexpr std::int32_t DDCKEY_SRCOVERLAY = 0x10;

struct RECT {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Right = 0;
    std::int32_t Bottom = 0;
    friend bool operator==(const RECT&, const RECT&) = default;
};

struct DDCOLORKEY {
    std::int32_t low = 0;
    std::int32_t high = 0;
    friend bool operator==(const DDCOLORKEY&, const DDCOLORKEY&) = default;
};

struct DDSCAPS2 {
    std::int32_t lCaps = 0;
    std::int32_t lCaps2 = 0;
    std::int32_t lCaps3 = 0;
    std::int32_t lCaps4 = 0;
    friend bool operator==(const DDSCAPS2&, const DDSCAPS2&) = default;
};

// Only what a surface request can carry here; no width, height or pixel format is honoured:
// a surface made from a file always takes the file's own size.
struct DDSURFACEDESC2 {
    std::int32_t lFlags = 0;
    std::int32_t lHeight = 0;
    std::int32_t lWidth = 0;
    std::int32_t lPitch = 0;
    DDSCAPS2 ddsCaps;
    friend bool operator==(const DDSURFACEDESC2&, const DDSURFACEDESC2&) = default;
};

class DirectDrawSurface7 {
public:
    explicit DirectDrawSurface7(QImage image);

    int Width() const { return image_.width(); }
    int Height() const { return image_.height(); }
    const QImage& Image() const { return image_; }

    // Stores the colour key; flags 0 or unknown bits are an invalid argument.
    void SetColorKey(std::int32_t flags, const DDCOLORKEY& key);
    // The key stored for one of the DDCKEY_ kinds; hasKey tells whether one was set.
    DDCOLORKEY GetColorKey(std::int32_t flags, bool* hasKey = nullptr) const;

    // Copies the src rectangle of the surface to the dest rectangle of the picture, opaque
    // (no colour key), stretched when the two differ in size. Parts of src outside the
    // surface and of dest outside the picture are left out. An inverted rectangle is an
    // invalid argument.
    void BltToDC(Picture& dc, const RECT& src, const RECT& dest) const;

private:
    QImage image_;
    DDCOLORKEY keys_[4];
    std::int32_t keysSet_ = 0;
};

class DirectDraw7 {
public:
    // Only the normal (windowed) level is offered; it has no visible effect.
    void SetCooperativeLevel(std::uintptr_t hwnd, std::int32_t flags);

    // A new surface holding the bitmap file's image at its own size. A missing file, or one
    // that is no readable Windows bitmap, fails with E_FAIL.
    std::unique_ptr<DirectDrawSurface7> CreateSurfaceFromFile(const QString& file, const DDSURFACEDESC2& desc);
    // Starts reading these bitmap files on a helper thread, for surfaces soon to be made from
    // them; each is still read once, and one that fails ahead fails as always when its surface
    // is made.
    void ReadAhead(std::vector<QString> files);

    DirectDraw7();
    ~DirectDraw7();

    std::int32_t CooperativeLevel() const { return level_; }

private:
    std::int32_t level_ = 0;
    std::unique_ptr<BitmapsAhead> ahead_;
};

class DirectX7 {
public:
    // The default display driver is the empty text; any other name is no driver here.
    std::unique_ptr<DirectDraw7> DirectDrawCreate(const QString& guid);
};

// Reads a Windows bitmap file into an image as DecodeDib makes it; a null image when the file is missing, no
// ordinary file, or no whole readable bitmap.
QImage ReadBitmapSurfaceImage(const QString& file);

// Told the name of every file that CreateSurfaceFromFile reads (tests count reads with it);
// an empty observer stops it.
void SetSurfaceFileObserver(std::function<void(const QString&)> observer);
