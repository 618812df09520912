// Feeds arbitrary bytes to the PNG reader, whose own decoder takes 8-bit RGB and RGBA pictures
// that are not interlaced (inflate whole and streamed, vector unfiltering), and to libspng
// alone, and checks that they agree on every pixel.
// sources: runtime/roomyheap.cpp imaging/pngreader.cpp imaging/pngrows.cpp imaging/pngunfilter.cpp runtime/runtimeerror.cpp runtime/helperqueue.cpp runtime/parallel.cpp
// packages: Qt6Gui spng libdeflate libisal
// options: -max_len=65536 -dict=fuzz/png_fuzz.dict -rss_limit_mb=2560

#include "imaging/pngreader.h"
#include "runtime/runtimeerror.h"

#include <spng.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

constexpr std::uint64_t MostPixels = std::uint64_t{1} << 22;

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// libspng's RGBA, or nothing where it refuses the bytes.
std::optional<QImage> bySpng(const std::uint8_t* data, std::size_t size) {
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, data, size);
    spng_set_image_limits(ctx, 1u << 17, 1u << 17);
    spng_ihdr ihdr {};
    std::optional<QImage> out;
    if (spng_get_ihdr(ctx, &ihdr) == 0 && std::uint64_t{ihdr.width} * ihdr.height <= MostPixels) {
        QImage image(static_cast<int>(ihdr.width), static_cast<int>(ihdr.height), QImage::Format_RGBA8888);
        if (!image.isNull() &&
            spng_decode_image(ctx, image.bits(), static_cast<std::size_t>(image.sizeInBytes()), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) == 0) {
            out = image;
        }
    }
    spng_ctx_free(ctx);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::optional<QImage> ours;
    try {
        ours = DecodePng(data, size, MostPixels).convertToFormat(QImage::Format_RGBA8888);
    } catch (const RuntimeError& e) {
        Check(e.Number() == Err::InvalidPicture || e.Number() == Err::OutOfMemory, "failures only 481 or 7");
    }
    const std::optional<QImage> theirs = bySpng(data, size);
    if (ours && theirs) {
        Check(*ours == *theirs, "the same pixels as libspng");
    }
    return 0;
}
