#include "imaging/asepritefile.h"
#include "runtime/runtimeerror.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <functional>

// Aseprite files written here byte by byte from its published file format, decoded, and
// compared with the same layers composed by QPainter.

namespace {
QByteArray le(std::uint32_t value, int size) {
    QByteArray bytes;
    // Fields wider than four bytes (reserved ones) are the value and zeros.
    for (int k = 0; k < size; ++k) {
        bytes += static_cast<char>(k < 4 ? (value >> (8 * k)) & 0xFF : 0);
    }
    return bytes;
}

QByteArray chunk(int type, const QByteArray& data) { return le(static_cast<std::uint32_t>(data.size() + 6), 4) + le(type, 2) + data; }

QByteArray layerChunk(int flags, int type, int level, int opacity) {
    return chunk(0x2004, le(flags, 2) + le(type, 2) + le(level, 2) + le(0, 2) + le(0, 2) + le(0, 2) + le(opacity, 1) + le(0, 3) + le(1, 2) + "L");
}

// A cel of raw pixels (the sprite's depth), zlib-compressed where asked.
QByteArray celChunk(int layer, QPoint at, int opacity, QSize size, const QByteArray& pixels, bool compressed) {
    const QByteArray data = compressed ? qCompress(pixels).mid(4) : pixels;
    return chunk(0x2005, le(layer, 2) + le(static_cast<std::uint16_t>(at.x()), 2) + le(static_cast<std::uint16_t>(at.y()), 2) + le(opacity, 1) +
                             le(compressed ? 2 : 0, 2) + QByteArray(7, 0) + le(size.width(), 2) + le(size.height(), 2) + data);
}

QByteArray file(int depth, QSize size, const std::vector<QByteArray>& chunks) {
    QByteArray frame;
    for (const QByteArray& c : chunks) {
        frame += c;
    }
    frame = le(static_cast<std::uint32_t>(frame.size() + 16), 4) + le(0xF1FA, 2) + le(static_cast<std::uint32_t>(chunks.size()), 2) + le(100, 2) +
            QByteArray(6, 0) + frame;
    QByteArray header = le(0, 4) + le(0xA5E0, 2) + le(1, 2) + le(size.width(), 2) + le(size.height(), 2) + le(depth, 2) + le(1, 4) +
                        le(100, 2) + le(0, 8) + le(0, 1) + QByteArray(3, 0) + le(256, 2);
    header += QByteArray(128 - header.size(), 0);
    return le(static_cast<std::uint32_t>(header.size() + frame.size()), 4) + header.mid(4) + frame;
}

// A picture's pixels in a depth, and the colours they stand for; indexed pixels are their
// palette indices (index 0 the transparent one).
struct Depth {
    int bits;
    std::function<QByteArray(int x, int y, int seed)> pixel;
    std::function<QRgb(int x, int y, int seed)> colour;
};

QRgb paletteColour(int index) { return qRgba(index * 7 % 256, index * 13 % 256, index * 29 % 256, index % 5 == 0 ? 128 : 255); }

const Depth depths[] = {
    {32, [](int x, int y, int s) {  // red, green, blue, alpha
         const QRgb c = qRgba(x * 40 + s, y * 30, s * 50, (x + y + s) % 4 == 0 ? 0 : 90 + x * 20);
         return le(qRed(c), 1) + le(qGreen(c), 1) + le(qBlue(c), 1) + le(qAlpha(c), 1);
     },
     [](int x, int y, int s) { return qRgba(x * 40 + s, y * 30, s * 50, (x + y + s) % 4 == 0 ? 0 : 90 + x * 20); }},
    {16, [](int x, int y, int s) { return le(static_cast<std::uint32_t>((x * 31 + s * 17) % 256 | (((x + y) % 3 == 0 ? 60 : 255) << 8)), 2); },
     [](int x, int y, int s) {
         const int v = (x * 31 + s * 17) % 256;
         return qRgba(v, v, v, (x + y) % 3 == 0 ? 60 : 255);
     }},
    {8, [](int x, int y, int s) { return le(static_cast<std::uint32_t>((x * 3 + y * 5 + s) % 12), 1); },
     [](int x, int y, int s) { return paletteColour((x * 3 + y * 5 + s) % 12); }},
};

QByteArray pixelsOf(const Depth& d, QSize size, int seed) {
    QByteArray bytes;
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            bytes += d.pixel(x, y, seed);
        }
    }
    return bytes;
}

QImage imageOf(const Depth& d, QSize size, int seed, bool background) {
    QImage image(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const bool clear = d.bits == 8 && !background && (x * 3 + y * 5 + seed) % 12 == 0;
            image.setPixel(x, y, clear ? 0u : d.colour(x, y, seed));
        }
    }
    return image;
}

TEST(Aseprite, FirstFrameComposedAsAsepriteShowsIt) {
    const QSize sprite(6, 5), small(3, 4);
    for (const Depth& d : depths) {
        QByteArray palette = le(12, 4) + le(0, 4) + le(11, 4) + QByteArray(8, 0);
        for (int k = 0; k < 12; ++k) {
            const QRgb c = paletteColour(k);
            palette += le(0, 2) + le(qRed(c), 1) + le(qGreen(c), 1) + le(qBlue(c), 1) + le(qAlpha(c), 1);
        }
        // A background, a half-opaque layer with a compressed cel at 2/3 opacity, a hidden
        // layer, and a visible layer in a hidden group.
        const QByteArray bytes = file(d.bits, sprite,
                                      {chunk(0x2019, palette), layerChunk(1 | 8, 0, 0, 255), layerChunk(1, 0, 0, 128), layerChunk(0, 0, 0, 255),
                                       layerChunk(0, 1, 0, 255), layerChunk(1, 0, 1, 255),
                                       celChunk(0, {0, 0}, 255, sprite, pixelsOf(d, sprite, 1), false),
                                       celChunk(1, {2, -1}, 170, small, pixelsOf(d, small, 2), true),
                                       celChunk(2, {0, 0}, 255, sprite, pixelsOf(d, sprite, 3), false),
                                       celChunk(4, {0, 0}, 255, sprite, pixelsOf(d, sprite, 4), true)});
        QImage expected(sprite, QImage::Format_ARGB32_Premultiplied);
        expected.fill(0u);
        {
            QPainter painter(&expected);
            painter.drawImage(0, 0, imageOf(d, sprite, 1, true));
            painter.setOpacity(128 / 255.0 * 170 / 255.0);
            painter.drawImage(2, -1, imageOf(d, small, 2, false));
        }
        const QImage decoded = DecodeAseprite("sprite.aseprite", bytes);
        ASSERT_EQ(decoded.size(), sprite) << d.bits;
        for (int y = 0; y < sprite.height(); ++y) {
            for (int x = 0; x < sprite.width(); ++x) {
                EXPECT_EQ(decoded.pixel(x, y), expected.pixel(x, y)) << d.bits << " bits at " << x << "," << y;
            }
        }
    }
}

TEST(Aseprite, DamagedFilesRefusedNamingTheFile) {
    const QSize sprite(4, 4);
    const QByteArray good = file(32, sprite, {layerChunk(1, 0, 0, 255), celChunk(0, {0, 0}, 255, sprite, pixelsOf(depths[0], sprite, 1), true)});
    QByteArray badMagic = good, badZlib = good, badDepth = good;
    badMagic[4] = 0;
    badZlib[badZlib.size() - 3] = static_cast<char>(badZlib[badZlib.size() - 3] ^ 0x5A);
    badDepth.replace(12, 2, le(24, 2));
    const QByteArray cases[] = {good.left(100), good.left(good.size() - 10), badMagic, badZlib, badDepth,
                                file(32, sprite, {celChunk(0, {0, 0}, 255, QSize(60000, 60000), QByteArray(), false)})};
    for (const QByteArray& bytes : cases) {
        try {
            DecodeAseprite("bad.aseprite", bytes);
            ADD_FAILURE() << "decoded " << bytes.size() << " bytes";
        } catch (const RuntimeError& failure) {
            EXPECT_EQ(failure.Number(), Err::InvalidPicture);
            EXPECT_EQ(failure.File(), "bad.aseprite");
        }
    }
}
}  // namespace
