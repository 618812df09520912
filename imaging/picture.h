#pragma once

#include <QColor>
#include <QImage>
#include <QString>

#include <functional>

// The persistent image of a picture box: whatever is drawn into it stays, and it is
// exactly what a save writes. Sizes are in pixels; the box has no border.
class Picture {
public:
    Picture(int width = 0, int height = 0);

    int Width() const { return width_; }
    int Height() const { return height_; }

    // Sets a size in pixels, rounded to the nearest whole pixel; a size the canvas cannot
    // hold raises 380 "Invalid property value" (or 7 "Out of memory"). The image keeps what
    // was drawn where old and new overlap; new parts show the background.
    void SetWidth(double pixels);
    void SetHeight(double pixels);
    void SetSize(int width, int height);
    // The whole pixels that SetWidth or SetHeight makes of a size, raising as they do.
    static int Side(double pixels);

    // Paints the whole image in the background colour.
    void Clear();

    // The image behind the box at the box's size (null when empty): 24-bit BGR888, or as a
    // loaded file gave it, BGR888 or RGB32.
    const QImage& Image() const { return image_; }
    QImage& Image() { return image_; }

    // Loads a picture file and sizes the box to it. 53 for a missing file, 481 for one
    // that is no readable picture.
    void LoadFile(const QString& path);

    // Saves the image as a 24-bit Windows bitmap, replacing a file of that name; never
    // leaves a truncated file behind.
    void SaveBitmap(const QString& path) const;

    // Told after every change of size, so a widget can follow.
    void SetOnResize(std::function<void()> onResize) { onResize_ = std::move(onResize); }

    // The fixed colour of every part on which nothing was drawn.
    static QColor Background();

private:
    void resizeImage(int width, int height);

    int width_ = 0;
    int height_ = 0;
    QImage image_;
    std::function<void()> onResize_;
};

// GDI BitBlt with SRCCOPY: a plain copy of a w by h block at (sx, sy) of src to (x, y) of
// dst, clipped to both images.
void BitBlt(Picture& dst, int x, int y, int w, int h, const Picture& src, int sx, int sy);
