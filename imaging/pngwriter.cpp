#include "imaging/pngwriter.h"

#include "imaging/pngchunks.h"
#include "imaging/pngimagedata.h"
#include "runtime/runtimeerror.h"

#include <libdeflate.h>

#include <vector>

namespace {
// The default level of zlib and libdeflate: about the size other tools write, at a
// fraction of the time of the top levels.
constexpr int Level = 6;
// Above this many bytes of rows, a picture is compressed in parts on every core.
constexpr std::size_t WholeBytes = std::size_t{1} << 20;

// One compressor per thread, kept: thousands of tiles need no fresh set-up each.
class Compressor {
public:
    explicit Compressor(int level) : compressor_(libdeflate_alloc_compressor(level)) {}
    ~Compressor() { libdeflate_free_compressor(compressor_); }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    // The data as one zlib stream.
    void Compress(const uchar* data, std::size_t size, std::vector<uchar>& out) {
        if (compressor_ == nullptr) {
            RaiseError(Err::OutOfMemory);
        }
        out.resize(libdeflate_zlib_compress_bound(compressor_, size));
        out.resize(libdeflate_zlib_compress(compressor_, data, size, out.data(), out.size()));
        if (out.empty()) {
            RaiseError(Err::OutOfMemory);
        }
    }

private:
    libdeflate_compressor* compressor_;
};
}  // namespace

QByteArray EncodePng(const QImage& image, PngFilters filters) {
    const bool indexed = image.format() == QImage::Format_Indexed8;
    if ((!indexed && image.format() != QImage::Format_RGBA8888) || image.isNull() ||
        (indexed && image.colorTable().isEmpty())) {
        RaiseError(Err::InvalidCall);
    }
    QByteArray out = PngHead(image.width(), image.height(), image.colorTable(), indexed);
    const auto rowBytes = static_cast<std::size_t>(image.width()) * (indexed ? 1 : 4);
    if (rowBytes * static_cast<std::size_t>(image.height()) > WholeBytes) {
        PngImageData data(image.width(), image.format(), filters);
        const PngImageData::Sink append = [&](const char* bytes, std::size_t size) {
            out.append(bytes, static_cast<qsizetype>(size));
        };
        data.Add(image, append);
        data.Finish(append);
        out.append(PngTail());
        return out;
    }
    thread_local std::vector<uchar> filtered;
    thread_local std::vector<uchar> compressed;
    thread_local Compressor compressor(Level);
    FilterRows(image, 0, image.height(), !indexed && filters == PngFilters::Adaptive, filtered);
    compressor.Compress(filtered.data(), filtered.size(), compressed);
    AppendPngChunk(out, "IDAT", compressed.data(), compressed.size());
    out.append(PngTail());
    return out;
}
