#include "imaging/dibdecoder.h"

#include <QByteArray>
#include <QImage>

#include <gtest/gtest.h>

#include <vector>

namespace {

// A bitmap file from its parts: the info header fields that matter, then palette (4 bytes an
// entry, or 3 for a core header), masks and pixel data as given.
struct Dib {
    int infoSize = 40;
    int width = 0;
    int height = 0;
    int bits = 8;
    int compression = 0;
    int colorsUsed = 0;
    std::vector<QRgb> palette;
    std::vector<quint32> masks;  // after a plain info header
    QByteArray data;

    QByteArray File() const {
        QByteArray info(infoSize, '\0');
        auto put = [&info](int at, quint32 v, int bytes) {
            for (int i = 0; i < bytes; ++i) {
                info[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
            }
        };
        put(0, static_cast<quint32>(infoSize), 4);
        if (infoSize == 12) {
            put(4, static_cast<quint32>(width), 2);
            put(6, static_cast<quint32>(height), 2);
            put(8, 1, 2);
            put(10, static_cast<quint32>(bits), 2);
        } else {
            put(4, static_cast<quint32>(width), 4);
            put(8, static_cast<quint32>(height), 4);
            put(12, 1, 2);
            put(14, static_cast<quint32>(bits), 2);
            put(16, static_cast<quint32>(compression), 4);
            // 0 would mean a full palette of 2^bits entries.
            put(32, static_cast<quint32>(colorsUsed != 0 ? colorsUsed : static_cast<int>(palette.size())), 4);
        }
        QByteArray extra;
        for (quint32 m : masks) {
            for (int i = 0; i < 4; ++i) {
                extra.append(static_cast<char>((m >> (8 * i)) & 0xFF));
            }
        }
        for (QRgb c : palette) {
            extra.append(static_cast<char>(qBlue(c)));
            extra.append(static_cast<char>(qGreen(c)));
            extra.append(static_cast<char>(qRed(c)));
            if (infoSize != 12) {
                extra.append('\0');
            }
        }
        const int offset = 14 + infoSize + static_cast<int>(extra.size());
        QByteArray head(14, '\0');
        head[0] = 'B';
        head[1] = 'M';
        const quint32 total = static_cast<quint32>(offset + data.size());
        for (int i = 0; i < 4; ++i) {
            head[2 + i] = static_cast<char>((total >> (8 * i)) & 0xFF);
            head[10 + i] = static_cast<char>((static_cast<quint32>(offset) >> (8 * i)) & 0xFF);
        }
        return head + info + extra + data;
    }
};

QImage Decode(const QByteArray& file) {
    return DecodeDib(reinterpret_cast<const unsigned char*>(file.constData()), static_cast<std::size_t>(file.size()));
}

// The image's pixels, top row first, without the alpha byte.
std::vector<std::vector<QRgb>> Pixels(const QImage& image) {
    std::vector<std::vector<QRgb>> rows;
    for (int y = 0; y < image.height(); ++y) {
        rows.emplace_back();
        for (int x = 0; x < image.width(); ++x) {
            rows.back().push_back(image.pixel(x, y) & 0xFFFFFF);
        }
    }
    return rows;
}

const QRgb R = qRgb(255, 0, 0) & 0xFFFFFF;
const QRgb G = qRgb(0, 255, 0) & 0xFFFFFF;
const QRgb B = qRgb(0, 0, 255) & 0xFFFFFF;
const QRgb K = 0;

QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values) {
        b.append(static_cast<char>(v));
    }
    return b;
}

TEST(DibDecoder, DecodesEachKindPixelForPixel) {
    struct Case {
        const char* name;
        Dib dib;
        std::vector<std::vector<QRgb>> expected;
    } cases[] = {
        // 4 x 2 at 8 bits: bottom row first, each row padded to 4 bytes.
        {"8 bits", {40, 4, 2, 8, 0, 0, {R, G, B}, {}, Bytes({0, 1, 2, 0, 2, 2, 1, 1})}, {{B, B, G, G}, {R, G, B, R}}},
        {"8 bits top-down", {40, 4, -2, 8, 0, 0, {R, G, B}, {}, Bytes({0, 1, 2, 0, 2, 2, 1, 1})},
         {{R, G, B, R}, {B, B, G, G}}},
        // Indexes beyond a short palette show black.
        {"short palette", {40, 2, 1, 8, 0, 2, {R, G}, {}, Bytes({1, 7, 0, 0})}, {{G, K}}},
        {"4 bits", {40, 3, 1, 4, 0, 0, std::vector<QRgb>{R, G, B}, {}, Bytes({0x21, 0x00, 0, 0})}, {{B, G, R}}},
        {"1 bit", {40, 10, 1, 1, 0, 2, {R, G}, {}, Bytes({0xA5, 0x40, 0, 0})}, {{G, R, G, R, R, G, R, G, R, G}}},
        {"2 bits", {40, 4, 1, 2, 0, 0, {R, G, B, K}, {}, Bytes({0x1B, 0, 0, 0})}, {{R, G, B, K}}},
        // A core header has no count: the palette is full, 3 bytes an entry.
        {"core header", {12, 2, 1, 1, 0, 0, {R, G}, {}, Bytes({0x40, 0, 0, 0})}, {{R, G}}},
        // 16 bits, 5-6-5 fields: full channels become 255.
        {"565", {40, 3, 1, 16, 3, 0, {}, {0xF800, 0x07E0, 0x001F}, Bytes({0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0, 0})},
         {{R, G, B}}},
        // 16 bits with no fields are 5-5-5.
        {"555", {40, 2, 1, 16, 0, 0, {}, {}, Bytes({0x00, 0x7C, 0x1F, 0x00})}, {{R, B}}},
        {"32 bits fields", {40, 2, 1, 32, 3, 0, {}, {0xFF, 0xFF00, 0xFF0000}, Bytes({0, 0, 255, 0, 255, 0, 0, 0})},
         {{B, R}}},
        // RLE8: a run of two, a jump over one pixel, a run of one; end of line; three pixels
        // given one by one (padded); end of bitmap. Skipped pixels take colour 0.
        {"RLE8", {40, 4, 2, 8, 1, 0, {R, G, B}, {}, Bytes({2, 1, 0, 2, 1, 0, 1, 2, 0, 0, 0, 3, 2, 1, 2, 0, 0, 1})},
         {{B, G, B, R}, {G, G, R, B}}},
        // RLE4: a run of three alternating nibbles 1 and 2, then five nibbles given one by one
        // (three bytes, padded to four).
        {"RLE4", {40, 8, 1, 4, 2, 0, {R, G, B}, {}, Bytes({3, 0x12, 0, 5, 0x21, 0x21, 0x20, 0, 0, 1})},
         {{G, B, G, B, G, B, G, B}}},
        // An early end of bitmap leaves the rest in colour 0.
        {"RLE8 cut", {40, 2, 2, 8, 1, 0, {R, G}, {}, Bytes({2, 1, 0, 1})}, {{R, R}, {G, G}}},
    };
    for (const Case& c : cases) {
        const QImage image = Decode(c.dib.File());
        ASSERT_FALSE(image.isNull()) << c.name;
        EXPECT_EQ(image.format(), QImage::Format_RGB32) << c.name;
        EXPECT_EQ(Pixels(image), c.expected) << c.name;
    }
}

TEST(DibDecoder, RefusesWhatIsNotAWholeBitmap) {
    const Dib good{40, 4, 2, 8, 0, 0, {R, G, B}, {}, Bytes({0, 1, 2, 0, 2, 2, 1, 1})};
    ASSERT_FALSE(Decode(good.File()).isNull());
    auto with = [&good](auto change) {
        Dib d = good;
        change(d);
        return d.File();
    };
    struct Case {
        const char* name;
        QByteArray file;
    } cases[] = {
        {"empty", QByteArray()},
        {"no BM", QByteArray("XM") + good.File().mid(2)},
        {"header only", good.File().left(40)},
        {"pixels cut", good.File().chopped(1)},
        {"palette cut", good.File().left(14 + 40 + 6)},
        {"zero width", with([](Dib& d) { d.width = 0; })},
        {"negative width", with([](Dib& d) { d.width = -4; })},
        {"zero height", with([](Dib& d) { d.height = 0; })},
        {"bits 7", with([](Dib& d) { d.bits = 7; })},
        {"unknown compression", with([](Dib& d) { d.compression = 9; })},
        {"embedded JPEG", with([](Dib& d) { d.compression = 4; })},
        {"RLE8 at 4 bits", with([](Dib& d) { d.compression = 1; d.bits = 4; })},
        {"RLE top-down", with([](Dib& d) { d.compression = 1; d.height = -2; d.data = Bytes({0, 1}); })},
        {"RLE without its end", with([](Dib& d) { d.compression = 1; d.data = Bytes({2, 1, 0, 0, 2}); })},
        {"RLE jump cut", with([](Dib& d) { d.compression = 1; d.data = Bytes({0, 2, 1}); })},
        {"RLE literal cut", with([](Dib& d) { d.compression = 1; d.data = Bytes({0, 5, 1, 1}); })},
        {"fields at 24 bits", with([](Dib& d) { d.compression = 3; d.bits = 24; d.palette.clear(); })},
        {"too many pixels", with([](Dib& d) { d.width = 1 << 14; d.height = (1 << 12) + 1; d.compression = 1;
                                              d.data = Bytes({0, 1}); })},
        {"unknown header size", with([](Dib& d) { d.infoSize = 200; })},
        {"header cut", with([](Dib& d) { d.infoSize = 124; }).left(14 + 60)},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(Decode(c.file).isNull()) << c.name;
    }
}

TEST(DibDecoder, RunsPastTheEdgesAreCut) {
    // A run of 200 in a row of 3, a jump far past the top: no write outside the image.
    Dib d{40, 3, 2, 8, 1, 0, {R, G}, {}, Bytes({200, 1, 0, 0, 0, 2, 250, 250, 5, 1, 0, 1})};
    const QImage image = Decode(d.File());
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(Pixels(image), (std::vector<std::vector<QRgb>>{{R, R, R}, {G, G, G}}));
}

}  // namespace
