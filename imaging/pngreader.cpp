#include "imaging/pngreader.h"

#include "platform/picture.h"
#include "platform/runtimeerror.h"

#include <spng.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {
struct ContextFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};

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
    return image;
}

QImage decodeIndexed(spng_ctx* ctx, const spng_ihdr& ihdr) {
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

    const int width = static_cast<int>(ihdr.width);
    const int height = static_cast<int>(ihdr.height);
    const int depth = ihdr.bit_depth;
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * depth + 7) / 8;
    QImage image = newImage(width, height, QImage::Format_Indexed8);
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
    return image;
}
}  // namespace

bool IsPng(const unsigned char* bytes, std::size_t size) {
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    return size >= sizeof signature && std::memcmp(bytes, signature, sizeof signature) == 0;
}

QImage DecodePng(const unsigned char* bytes, std::size_t size, std::uint64_t maxPixels) {
    const std::unique_ptr<spng_ctx, ContextFree> ctx(spng_ctx_new(0));
    if (!ctx) {
        RaiseError(Err::OutOfMemory);
    }
    check(spng_set_png_buffer(ctx.get(), bytes, size));
    check(spng_set_image_limits(ctx.get(), Picture::MaxSide, Picture::MaxSide));
    spng_ihdr ihdr {};
    check(spng_get_ihdr(ctx.get(), &ihdr));
    if (std::uint64_t{ihdr.width} * ihdr.height > maxPixels) {
        RaiseError(Err::InvalidPicture);
    }
    if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED) {
        return decodeIndexed(ctx.get(), ihdr);
    }
    QImage image = newImage(static_cast<int>(ihdr.width), static_cast<int>(ihdr.height), QImage::Format_RGBA8888);
    // Rows of RGBA8888 need no padding, so the decoder writes straight into the image.
    check(spng_decode_image(ctx.get(), image.bits(), static_cast<std::size_t>(image.sizeInBytes()), SPNG_FMT_RGBA8,
                            SPNG_DECODE_TRNS));
    return image;
}
