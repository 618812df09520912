#pragma once

#include <QImage>

#include <cstddef>

// An RGB32 (or, asked for, 24-bit BGR888) image whose pixels are left for the caller to write. Small images share 2 MB blocks
// that the kernel may back with huge pages, so loading tens of thousands of tiles costs a few
// page faults instead of one or two a tile; a block is freed with the last image in it.
// Large images get huge-page memory of their own. A null image when memory runs out.
// Safe to call, and to drop the images, on any thread.
// Memory of at least bytes, rounded up to whole 2 MB huge pages and backed by them where the
// kernel has them: a big picture then costs a few hundred page faults instead of one per
// 4 KiB. Released with std::free; nullptr when memory runs out.
void* HugePageMemory(std::size_t bytes);

// A 24-bit image's rows are padded to whole 4 bytes, as a bitmap file's rows are.
QImage NewSurfaceImage(int width, int height, QImage::Format format = QImage::Format_RGB32);
