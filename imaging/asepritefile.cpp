#include "imaging/asepritefile.h"

#include "runtime/limits.h"
#include "runtime/runtimeerror.h"

#include <QFileInfo>
#include <QPainter>

#include <zlib.h>

#include <array>
#include <vector>

namespace {
constexpr std::uint16_t FileMagic = 0xA5E0;
constexpr std::uint16_t FrameMagic = 0xF1FA;
constexpr std::uint16_t LayerChunk = 0x2004, CelChunk = 0x2005, PaletteChunk = 0x2019, OldPaletteChunk = 0x0004;
// A cel's pixels past this many bytes are no tileset's.
constexpr qint64 MaxCelBytes = qint64{1} << 28;

class Bytes {
public:
    Bytes(const QString& file, const QByteArray& bytes, qsizetype begin, qsizetype end) : file_(file), bytes_(bytes), at_(begin), end_(end) {}

    [[noreturn]] void Fail(const QString& reason) const { throw RuntimeError(Err::InvalidPicture, QStringLiteral("Aseprite file: ") + reason, file_); }
    std::uint32_t Read(int size) {
        if (end_ - at_ < size) {
            Fail(QStringLiteral("cut short"));
        }
        std::uint32_t value = 0;
        for (int k = 0; k < size; ++k) {
            value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes_[at_ + k])) << (8 * k);
        }
        at_ += size;
        return value;
    }
    std::uint8_t Byte() { return static_cast<std::uint8_t>(Read(1)); }
    std::uint16_t Word() { return static_cast<std::uint16_t>(Read(2)); }
    std::int16_t Short() { return static_cast<std::int16_t>(Word()); }
    std::uint32_t Dword() { return Read(4); }
    void Skip(qint64 count) {
        if (count < 0 || end_ - at_ < count) {
            Fail(QStringLiteral("cut short"));
        }
        at_ += static_cast<qsizetype>(count);
    }
    qsizetype At() const { return at_; }
    qsizetype Left() const { return end_ - at_; }
    const char* Data() const { return bytes_.constData() + at_; }

private:
    const QString& file_;
    const QByteArray& bytes_;
    qsizetype at_, end_;
};

struct Layer {
    bool visible = true;  // its own flag and every group's above it
    bool image = true;
    bool background = false;
    double opacity = 1.0;
    int level = 0;
};

struct Cel {
    int layer = 0;
    QPoint at;
    double opacity = 1.0;
    QImage pixels;
};

// A cel's pixels in the sprite's depth made RGBA.
// A sheet LDtk draws from: 8192 by 8192 pixels at most, so a header's claim cannot ask for
// gigabytes before a byte of pixels is read.
constexpr qint64 MaxSpritePixels = qint64{1} << 26;

QImage celImage(Bytes& in, const std::vector<unsigned char>& raw, int width, int height, int depth, const std::array<QRgb, 256>& palette,
                int transparent, bool background) {
    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull()) {
        in.Fail(QStringLiteral("a cel of %1x%2 pixels is too large").arg(width).arg(height));
    }
    const int step = depth / 8;
    for (int y = 0; y < height; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        const unsigned char* p = raw.data() + static_cast<std::size_t>(y) * width * step;
        for (int x = 0; x < width; ++x, p += step) {
            if (depth == 32) {
                row[x] = qRgba(p[0], p[1], p[2], p[3]);
            } else if (depth == 16) {
                row[x] = qRgba(p[0], p[0], p[0], p[1]);
            } else {
                row[x] = p[0] == transparent && !background ? 0u : palette[p[0]];
            }
        }
    }
    return image;
}
}  // namespace

bool IsAsepriteName(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == "aseprite" || suffix == "ase";
}

QImage DecodeAseprite(const QString& file, const QByteArray& bytes) {
    Bytes header(file, bytes, 0, bytes.size());
    header.Dword();
    if (header.Word() != FileMagic) {
        header.Fail(QStringLiteral("no Aseprite file (its magic number is wrong)"));
    }
    const int frames = header.Word();
    const int width = header.Word(), height = header.Word(), depth = header.Word();
    const bool layerOpacity = (header.Dword() & 1) != 0;
    header.Skip(10);
    const int transparent = header.Byte();
    if (frames < 1 || width < 1 || height < 1 || qint64{width} * height > MaxSpritePixels ||
        (depth != 32 && depth != 16 && depth != 8)) {
        header.Fail(QStringLiteral("%1 frames of %2x%3 pixels at %4 bits is no sprite it reads").arg(frames).arg(width).arg(height).arg(depth));
    }
    header.Skip(128 - header.At());
    // The first frame: its layers, palette and cels.
    const qsizetype frameStart = header.At();
    const std::uint32_t frameBytes = header.Dword();
    if (header.Word() != FrameMagic || frameBytes < 16 || frameBytes > static_cast<std::uint32_t>(bytes.size() - frameStart)) {
        header.Fail(QStringLiteral("its first frame is damaged"));
    }
    const int oldChunks = header.Word();
    header.Skip(4);
    const std::uint32_t newChunks = header.Dword();
    const std::uint32_t chunks = newChunks != 0 ? newChunks : static_cast<std::uint32_t>(oldChunks);
    Bytes frame(file, bytes, header.At(), frameStart + static_cast<qsizetype>(frameBytes));
    std::vector<Layer> layers;
    std::vector<Cel> cels;
    std::array<QRgb, 256> palette{};
    bool newPalette = false;
    for (std::uint32_t k = 0; k < chunks && frame.Left() > 0; ++k) {
        const qsizetype start = frame.At();
        const std::uint32_t size = frame.Dword();
        if (size < 6 || size > static_cast<std::uint32_t>(frame.Left() + 4)) {
            frame.Fail(QStringLiteral("a chunk runs past its frame"));
        }
        Bytes chunk(file, bytes, frame.At(), start + static_cast<qsizetype>(size));
        frame.Skip(static_cast<qint64>(size) - 4);
        const int type = chunk.Word();
        if (type == LayerChunk) {
            Layer layer;
            const int flags = chunk.Word();
            const int kind = chunk.Word();
            layer.level = chunk.Word();
            chunk.Skip(6);
            const int opacity = chunk.Byte();
            layer.image = kind == 0;
            layer.background = (flags & 8) != 0;
            layer.opacity = layerOpacity ? opacity / 255.0 : 1.0;
            layer.visible = (flags & 1) != 0;
            // A layer inside a hidden group is hidden; its group's opacity carries over.
            for (auto parent = layers.rbegin(); parent != layers.rend(); ++parent) {
                if (parent->level < layer.level) {
                    layer.visible = layer.visible && parent->visible;
                    layer.opacity *= parent->opacity;
                    break;
                }
            }
            layers.push_back(layer);
        } else if (type == PaletteChunk) {
            const std::uint32_t total = chunk.Dword(), first = chunk.Dword(), last = chunk.Dword();
            chunk.Skip(8);
            if (total > 256 || first > last || last >= 256) {
                chunk.Fail(QStringLiteral("a palette of %1 colours").arg(total));
            }
            for (std::uint32_t index = first; index <= last; ++index) {
                const int flags = chunk.Word();
                const int r = chunk.Byte(), g = chunk.Byte(), b = chunk.Byte(), a = chunk.Byte();
                palette[index] = qRgba(r, g, b, a);
                if ((flags & 1) != 0) {
                    chunk.Skip(chunk.Word());
                }
            }
            newPalette = true;
        } else if (type == OldPaletteChunk && !newPalette) {
            const int packets = chunk.Word();
            int index = 0;
            for (int p = 0; p < packets; ++p) {
                index += chunk.Byte();
                int count = chunk.Byte();
                count = count == 0 ? 256 : count;
                for (int c = 0; c < count; ++c, ++index) {
                    const int r = chunk.Byte(), g = chunk.Byte(), b = chunk.Byte();
                    if (index < 256) {
                        palette[static_cast<std::size_t>(index)] = qRgb(r, g, b);
                    }
                }
            }
        } else if (type == CelChunk) {
            Cel cel;
            cel.layer = chunk.Word();
            cel.at.setX(chunk.Short());
            cel.at.setY(chunk.Short());
            cel.opacity = chunk.Byte() / 255.0;
            const int kind = chunk.Word();
            chunk.Skip(7);
            if (kind != 0 && kind != 2) {
                continue;  // linked cels name other frames; tilemaps are not pictures
            }
            const int w = chunk.Word(), h = chunk.Word();
            const qint64 need = qint64{w} * h * (depth / 8);
            if (need > MaxCelBytes || qint64{w} * h > MaxSpritePixels) {
                chunk.Fail(QStringLiteral("a cel of %1x%2 pixels is too large").arg(w).arg(h));
            }
            std::vector<unsigned char> raw(static_cast<std::size_t>(need));
            if (kind == 0) {
                if (chunk.Left() < need) {
                    chunk.Fail(QStringLiteral("a cel is cut short"));
                }
                std::copy_n(chunk.Data(), need, raw.begin());
            } else {
                uLongf out = static_cast<uLongf>(need);
                const int status = uncompress(raw.data(), &out, reinterpret_cast<const Bytef*>(chunk.Data()), static_cast<uLong>(chunk.Left()));
                if (status != Z_OK || out != static_cast<uLongf>(need)) {
                    chunk.Fail(QStringLiteral("a compressed cel does not hold its %1x%2 pixels").arg(w).arg(h));
                }
            }
            const bool background = cel.layer < static_cast<int>(layers.size()) && layers[static_cast<std::size_t>(cel.layer)].background;
            cel.pixels = celImage(chunk, raw, w, h, depth, palette, transparent, background);
            cels.push_back(std::move(cel));
        }
    }
    QImage picture(width, height, QImage::Format_ARGB32_Premultiplied);
    if (picture.isNull()) {
        RaiseError(Err::OutOfMemory);
    }
    picture.fill(0u);
    QPainter painter(&picture);
    for (std::size_t index = 0; index < layers.size(); ++index) {
        const Layer& layer = layers[index];
        if (!layer.visible || !layer.image) {
            continue;
        }
        for (const Cel& cel : cels) {
            if (cel.layer == static_cast<int>(index)) {
                painter.setOpacity(layer.opacity * cel.opacity);
                painter.drawImage(cel.at, cel.pixels);
            }
        }
    }
    return picture;
}
