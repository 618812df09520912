// Feeds arbitrary bytes to the PNG reader, decoded at once and a few rows at a time as a split
// reads its bands, and checks what must hold for every input.
// sources: runtime/roomyheap.cpp imaging/pngreader.cpp imaging/pngrows.cpp imaging/pngunfilter.cpp runtime/runtimeerror.cpp runtime/helperqueue.cpp runtime/parallel.cpp
// packages: Qt6Gui spng libdeflate libisal
// options: -max_len=65536 -dict=fuzz/png_fuzz.dict -rss_limit_mb=2560

#include "imaging/pngreader.h"
#include "runtime/runtimeerror.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

// Enough for every picture a 64 KiB input can describe sensibly, small enough to stay fast.
constexpr std::uint64_t MostPixels = std::uint64_t{1} << 22;

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// The picture, or the failure's number.
struct Outcome {
    std::optional<QImage> image;
    std::int32_t failure = 0;
};

Outcome decodeAtOnce(const std::uint8_t* data, std::size_t size) {
    try {
        return {DecodePng(data, size, MostPixels), 0};
    } catch (const RuntimeError& e) {
        return {std::nullopt, e.Number()};
    }
}

// Pictures read in bands (truecolour, not interlaced) come back as RGBA8888 rows; the rest
// decode whole.
Outcome decodeInBands(const std::uint8_t* data, std::size_t size) {
    try {
        PngDecoder decoder(data, size, MostPixels);
        if (!decoder.DecodesRowByRow()) {
            decoder.Decode();
            return {decoder.Image(), 0};
        }
        const QSize whole = decoder.Size();
        QImage image(whole, QImage::Format_RGBA8888);
        constexpr int Band = 3;
        for (int y = 0; y < whole.height(); y += Band) {
            const int count = std::min(Band, whole.height() - y);
            QImage band(whole.width(), count, QImage::Format_RGBA8888);
            decoder.ReadRows(band, count);
            for (int row = 0; row < count; ++row) {
                std::memcpy(image.scanLine(y + row), band.constScanLine(row), static_cast<std::size_t>(band.bytesPerLine()));
            }
        }
        return {image, 0};
    } catch (const RuntimeError& e) {
        return {std::nullopt, e.Number()};
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Outcome once = decodeAtOnce(data, size);
    if (once.image) {
        const QImage& image = *once.image;
        Check(!image.isNull(), "a decoded picture is no null image");
        Check(image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_RGBA8888,
              "indexed or RGBA, nothing else");
        Check(static_cast<std::uint64_t>(image.width()) * static_cast<std::uint64_t>(image.height()) <= MostPixels,
              "no more pixels than allowed");
        if (image.format() == QImage::Format_Indexed8) {
            const auto colours = image.colorTable().size();
            Check(colours >= 1 && colours <= 256, "a palette of 1 to 256 colours");
            for (int y = 0; y < image.height(); ++y) {
                const uchar* row = image.constScanLine(y);
                for (int x = 0; x < image.width(); ++x) {
                    Check(row[x] < colours, "every index inside the palette");
                }
            }
        }
    } else {
        Check(once.failure == Err::InvalidPicture || once.failure == Err::OutOfMemory, "failures only 481 or 7");
    }
    if (size > 0 && !IsPng(data, size)) {
        Check(!once.image, "no signature, no picture");
    }
    const Outcome rows = decodeInBands(data, size);
    Check(rows.image.has_value() == once.image.has_value(), "both ways agree on success");
    Check(rows.failure == once.failure, "both ways fail alike");
    if (rows.image) {
        Check(*rows.image == (rows.image->format() == once.image->format() ? *once.image
                                                                            : once.image->convertToFormat(rows.image->format())),
              "both ways give the same pixels");
    }
    return 0;
}
