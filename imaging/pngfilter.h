#pragma once

#include <QImage>

#include <cstddef>
#include <vector>

// How the rows of an RGBA image are filtered before compression. Pixel art (few colours,
// repeated exactly) compresses best unfiltered; photos and gradients best with the filter
// of least sum chosen row by row. Palette indexes are never filtered.
enum class PngFilters { Adaptive, None };

// The compressor that deflates the rows: libdeflate writes tiles and small pictures whole,
// igzip a big picture in parts (PngImageData).
enum class Deflater { Libdeflate, Igzip };

// The filtering that compresses a sample of rows first to first + count smaller (of RGBA8888,
// or premultiplied ARGB32 as its straight pixels), gauged by the deflater's quickest level
// (libdeflate's takes five times igzip's on noisy rows).
PngFilters ChooseFilters(const QImage& image, int first, int count, Deflater deflater = Deflater::Libdeflate);

// One row of n bytes (bpp a pixel) with its filter byte in front, as the zlib stream of a PNG
// holds it, into out (n + 1 bytes). prev is the row above, or null for the first row.
// Adaptive takes the filter whose bytes sum smallest as signed values (the usual heuristic).
void FilterRow(const uchar* row, const uchar* prev, std::size_t n, int bpp, bool adaptive, uchar* out);

// Whether FilterRow may use AVX2 where the processor has it (it does by default); the bytes
// are the same either way.
void UseAvx2Filters(bool use);

// Rows first to first + count of the image, filtered so, into out; many rows on every core.
void FilterRows(const QImage& image, int first, int count, bool adaptive, std::vector<uchar>& out);
