#include "imaging/pngreader.h"

#include "imaging/picture.h"
#include "imaging/pngrows.h"
#include "runtime/limits.h"
#include "runtime/roomyheap.h"
#include "runtime/runtimeerror.h"

#include <spng.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {
void check(int result) {
    if (result != 0) {
        RaiseError(Err::InvalidPicture);
    }
}

QImage newImage(int width, int height, QImage::Format format) {
    QImage image(width, height, format);
    if (image.isNull()) {
        RaiseError(Err::OutOfMemory);
    }
    // A big picture's memory is a mapping of its own, in pages of 4 KiB unless advised: a
    // 4096 by 4096 sheet took more page faults than decoding.
    AdviseHugePages(image.constBits(), static_cast<std::size_t>(image.sizeInBytes()));
    return image;
}

// Indexes unpacked to a byte each; the palette with its alpha.
void decodeIndexed(spng_ctx* ctx, QImage& image) {
    spng_plte plte {};
    check(spng_get_plte(ctx, &plte));
    spng_trns trns {};
    const bool hasTrns = spng_get_trns(ctx, &trns) == 0;
    QList<QRgb> palette(static_cast<qsizetype>(plte.n_entries));
    for (std::uint32_t i = 0; i < plte.n_entries; ++i) {
        const spng_plte_entry& e = plte.entries[i];
        const int alpha = hasTrns && i < trns.n_type3_entries ? trns.type3_alpha[i] : 255;
        palette[i] = qRgba(e.red, e.green, e.blue, alpha);
    }

    std::size_t packedSize = 0;
    check(spng_decoded_image_size(ctx, SPNG_FMT_PNG, &packedSize));
    std::vector<unsigned char> packed(packedSize);
    check(spng_decode_image(ctx, packed.data(), packed.size(), SPNG_FMT_PNG, 0));

    spng_ihdr ihdr {};
    check(spng_get_ihdr(ctx, &ihdr));
    const int width = image.width();
    const int height = image.height();
    const int depth = ihdr.bit_depth;
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * depth + 7) / 8;
    int highest = 0;
    for (int y = 0; y < height; ++y) {
        const unsigned char* in = packed.data() + rowBytes * static_cast<std::size_t>(y);
        uchar* out = image.scanLine(y);
        if (depth == 8) {
            std::memcpy(out, in, static_cast<std::size_t>(width));
        } else {
            const int perByte = 8 / depth;
            const int mask = (1 << depth) - 1;
            for (int x = 0; x < width; ++x) {
                const int shift = 8 - depth * (x % perByte + 1);
                out[x] = static_cast<uchar>((in[x / perByte] >> shift) & mask);
            }
        }
        highest = std::max(highest, static_cast<int>(*std::max_element(out, out + width)));
    }
    // An index past the palette is a fault of the file; give it a colour rather than read
    // past the table.
    while (palette.size() <= highest) {
        palette.append(qRgba(0, 0, 0, 255));
    }
    image.setColorTable(palette);
}
}  // namespace

bool IsPng(const unsigned char* bytes, std::size_t size) {
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    return size >= sizeof signature && std::memcmp(bytes, signature, sizeof signature) == 0;
}

PngDecoder::PngDecoder(const unsigned char* bytes, std::size_t size, std::uint64_t maxPixels)
    : ctx_(spng_ctx_new(0)) {
    if (ctx_ == nullptr) {
        RaiseError(Err::OutOfMemory);
    }
    try {
        check(spng_set_png_buffer(ctx_, bytes, size));
        check(spng_set_image_limits(ctx_, Limits::PictureSide, Limits::PictureSide));
        spng_ihdr ihdr {};
        check(spng_get_ihdr(ctx_, &ihdr));
        if (std::uint64_t{ihdr.width} * ihdr.height > maxPixels) {
            RaiseError(Err::InvalidPicture);
        }
        indexed_ = ihdr.color_type == SPNG_COLOR_TYPE_INDEXED;
        rowByRow_ = !indexed_ && ihdr.interlace_method == SPNG_INTERLACE_NONE;
        size_ = QSize(static_cast<int>(ihdr.width), static_cast<int>(ihdr.height));
        // libspng reads and checks the chunks before the image data; tRNS of RGB, rare, stays
        // with it too.
        const bool truecolour = ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA || ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR;
        spng_trns trns {};
        if (truecolour && ihdr.bit_depth == 8 && ihdr.interlace_method == SPNG_INTERLACE_NONE &&
            spng_get_trns(ctx_, &trns) == SPNG_ECHUNKAVAIL) {
            rows_ = std::make_unique<PngRows>(bytes, size, size_.width(), size_.height(),
                                              ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR ? 3 : 4);
        }
    } catch (...) {
        spng_ctx_free(ctx_);
        throw;
    }
}

PngDecoder::~PngDecoder() { spng_ctx_free(ctx_); }

void PngDecoder::Decode() {
    image_ = newImage(size_.width(), size_.height(), indexed_ ? QImage::Format_Indexed8 : QImage::Format_RGBA8888);
    if (indexed_) {
        decodeIndexed(ctx_, image_);
    } else if (rows_) {
        rows_->DecodeAll(image_);
    } else {
        check(spng_decode_image(ctx_, image_.bits(), static_cast<std::size_t>(image_.sizeInBytes()), SPNG_FMT_RGBA8,
                                SPNG_DECODE_TRNS));
    }
}

void PngDecoder::Check() {
    if (rows_) {
        rows_->Check();
        return;
    }
    Decode();
    image_ = QImage();
}

void PngDecoder::ReadRows(QImage& into, int count) {
    if (!rowByRow_) {
        RaiseError(Err::InvalidCall);
    }
    if (rows_) {
        rows_->Read(into, count);
        return;
    }
    if (rowsRead_ == 0) {
        check(spng_decode_image(ctx_, nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE));
    }
    // Rows of RGBA8888 need no padding, so the decoder writes straight into the image.
    const auto rowBytes = static_cast<std::size_t>(size_.width()) * 4;
    for (int y = 0; y < count; ++y) {
        const int result = spng_decode_row(ctx_, into.scanLine(y), rowBytes);
        ++rowsRead_;
        if (result != 0 && !(result == SPNG_EOI && rowsRead_ == size_.height())) {
            RaiseError(Err::InvalidPicture);
        }
    }
}

QImage DecodePng(const unsigned char* bytes, std::size_t size, std::uint64_t maxPixels) {
    PngDecoder decoder(bytes, size, maxPixels);
    decoder.Decode();
    return decoder.Image();
}
