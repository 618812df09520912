#include "support/testsupport.h"

#include "imaging/pngsimd.h"
#include "imaging/pngunfilter.h"
#include "imaging/pngchunks.h"
#include "imaging/pngfilter.h"
#include "imaging/pngreader.h"
#include "imaging/pngwriter.h"
#include "runtime/runtimeerror.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>

#include <libdeflate.h>
#include <spng.h>

#include <random>
#include <vector>

namespace {

const unsigned char* bytesOf(const QByteArray& a) { return reinterpret_cast<const unsigned char*>(a.constData()); }

// A PNG around rows as the zlib stream holds them (filter byte in front of each), its IDAT cut
// into chunks of idatSize bytes; its Adler-32 made wrong where told.
QByteArray pngAround(const std::vector<uchar>& stream, int width, int height, int colourType, int depth,
                     std::size_t idatSize, bool wrongSum = false) {
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    unsigned char ihdr[13] = {};
    PutBig32(ihdr, static_cast<std::uint32_t>(width));
    PutBig32(ihdr + 4, static_cast<std::uint32_t>(height));
    ihdr[8] = static_cast<unsigned char>(depth);
    ihdr[9] = static_cast<unsigned char>(colourType);
    AppendPngChunk(png, "IHDR", ihdr, sizeof ihdr);
    libdeflate_compressor* c = libdeflate_alloc_compressor(6);
    QByteArray z(static_cast<qsizetype>(libdeflate_zlib_compress_bound(c, stream.size())), '\0');
    z.resize(static_cast<qsizetype>(libdeflate_zlib_compress(c, stream.data(), stream.size(), z.data(), z.size())));
    libdeflate_free_compressor(c);
    if (wrongSum) {
        z[z.size() - 1] = static_cast<char>(z[z.size() - 1] ^ 1);
    }
    for (qsizetype at = 0; at < z.size(); at += static_cast<qsizetype>(idatSize)) {
        const QByteArray part = z.mid(at, static_cast<qsizetype>(idatSize));
        AppendPngChunk(png, "IDAT", part.constData(), static_cast<std::size_t>(part.size()));
    }
    png.append(PngTail());
    return png;
}

// What libspng gives as RGBA, the reference; null where it refuses the file.
QImage bySpng(const QByteArray& png) {
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, bytesOf(png), static_cast<std::size_t>(png.size()));
    spng_ihdr ihdr {};
    QImage out;
    if (spng_get_ihdr(ctx, &ihdr) == 0) {
        out = QImage(static_cast<int>(ihdr.width), static_cast<int>(ihdr.height), QImage::Format_RGBA8888);
        if (spng_decode_image(ctx, out.bits(), static_cast<std::size_t>(out.sizeInBytes()), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0) {
            out = QImage();
        }
    }
    spng_ctx_free(ctx);
    return out;
}

QImage asRgba(const QImage& image) { return image.convertToFormat(QImage::Format_RGBA8888); }

// Decoded at once and in bands of two rows, as a split reads a sheet; both as RGBA.
std::pair<QImage, QImage> oursBothWays(const QByteArray& png) {
    const QImage whole = DecodePng(bytesOf(png), static_cast<std::size_t>(png.size()), 1 << 24);
    PngDecoder decoder(bytesOf(png), static_cast<std::size_t>(png.size()), 1 << 24);
    if (!decoder.DecodesRowByRow()) {
        decoder.Decode();
        return {asRgba(whole), asRgba(decoder.Image())};
    }
    QImage bands(decoder.Size(), QImage::Format_RGBA8888);
    for (int y = 0; y < bands.height(); y += 2) {
        const int count = std::min(2, bands.height() - y);
        QImage band(bands.width(), count, QImage::Format_RGBA8888);
        decoder.ReadRows(band, count);
        for (int row = 0; row < count; ++row) {
            std::memcpy(bands.scanLine(y + row), band.constScanLine(row), static_cast<std::size_t>(band.bytesPerLine()));
        }
    }
    return {asRgba(whole), bands};
}

TEST(PngDecode, EveryFilterDepthAndColourTypeEqualsLibspng) {
    // Filtered rows of random bytes are a valid picture of every kind; filters cycle row by row.
    struct Kind {
        int colourType, depth, bitsPerPixel;
    };
    const Kind kinds[] = {{2, 8, 24}, {6, 8, 32}, {0, 1, 1}, {0, 2, 2}, {0, 4, 4}, {0, 8, 8}, {0, 16, 16},
                          {4, 8, 16}, {4, 16, 32}, {2, 16, 48}, {6, 16, 64}};
    std::mt19937 random(11);
    for (const Kind& kind : kinds) {
        for (const int width : {1, 2, 3, 5, 16, 17, 67}) {
            const int height = 11;
            const std::size_t rowBytes = (static_cast<std::size_t>(width) * kind.bitsPerPixel + 7) / 8;
            std::vector<uchar> stream((rowBytes + 1) * height);
            for (std::size_t i = 0; i < stream.size(); ++i) {
                stream[i] = i % (rowBytes + 1) == 0 ? static_cast<uchar>((i / (rowBytes + 1)) % 5) : static_cast<uchar>(random());
            }
            // One chunk, and chunks of a byte: the zlib header is cut too.
            for (const std::size_t idat : {std::size_t{1} << 20, std::size_t{1}}) {
                SCOPED_TRACE(testing::Message() << "type " << kind.colourType << " depth " << kind.depth << " width " << width
                                                << " chunk " << idat);
                const QByteArray png = pngAround(stream, width, height, kind.colourType, kind.depth, idat);
                const QImage reference = bySpng(png);
                ASSERT_FALSE(reference.isNull());
                const auto [whole, bands] = oursBothWays(png);
                EXPECT_EQ(whole, reference);
                EXPECT_EQ(bands, reference);
            }
        }
    }
}

TEST(PngDecode, FilesOfPillowEqualLibspng) {
    TestFolder folder;
    // Pillow's own filter choice over gradients and noise, in every mode it writes.
    static const char* script =
        "import random, sys\nfrom PIL import Image\nrandom.seed(5)\n"
        "for mode in ['1', 'L', 'LA', 'P', 'RGB', 'RGBA', 'I']:\n"
        "    im = Image.new('RGBA', (67, 45))\n"
        "    im.putdata([((x * 4) % 256, (y * 6 + x) % 256, random.randrange(256) if y > 30 else 90, (x * y) % 256)"
        " for y in range(45) for x in range(67)])\n"
        "    (im.convert('L').point(lambda v: v * 257, 'I') if mode == 'I' else im.convert(mode)).save(sys.argv[1] + '/' + mode + '.png')\n"
        "im.convert('RGB').save(sys.argv[1] + '/RGBtrns.png', transparency=(90, 90, 90))\n"
        "im.convert('P').save(sys.argv[1] + '/Ptrns.png', transparency=3)\n";
    QProcess python;
    python.start("/usr/bin/python3", {"-c", "import PIL"});
    if (!python.waitForFinished(60000) || python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0) {
        GTEST_SKIP() << "Pillow (Debian python3-pil) is not installed";
    }
    python.start("/usr/bin/python3", {"-c", script, folder.Path()});
    ASSERT_TRUE(python.waitForFinished(60000) && python.exitCode() == 0) << python.readAllStandardError().toStdString();
    for (const QString name : {"1", "L", "LA", "P", "RGB", "RGBA", "I", "RGBtrns", "Ptrns"}) {
        SCOPED_TRACE(name.toStdString());
        QFile file(folder.File(name + ".png"));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray png = file.readAll();
        const auto [whole, bands] = oursBothWays(png);
        EXPECT_EQ(whole, bySpng(png));
        EXPECT_EQ(bands, bySpng(png));
    }
}

TEST(PngDecode, EncodeThenDecodeIsTheIdentityAtOddWidths) {
    std::mt19937 random(23);
    for (int width = 1; width <= 67; width += 2) {
        SCOPED_TRACE(width);
        // Noise, gradients and flat runs, so that every filter gets chosen somewhere.
        QImage source(width, 9, QImage::Format_RGBA8888);
        for (int y = 0; y < source.height(); ++y) {
            for (int x = 0; x < 4 * width; ++x) {
                source.scanLine(y)[x] = static_cast<uchar>(y % 3 == 0 ? random() : y % 3 == 1 ? x * 5 + y : 77);
            }
        }
        const auto [rgba, rgbaBands] = oursBothWays(EncodePng(source, PngFilters::Adaptive));
        EXPECT_EQ(rgba, source);
        EXPECT_EQ(rgbaBands, source);
        // 3 bytes a pixel through the same filters, opaque when read back.
        std::vector<uchar> rgb(3 * static_cast<std::size_t>(width));
        std::vector<uchar> prev(rgb.size());
        std::vector<uchar> stream;
        for (int y = 0; y < source.height(); ++y) {
            for (int x = 0; x < width; ++x) {
                std::memcpy(rgb.data() + 3 * x, source.constScanLine(y) + 4 * x, 3);
            }
            std::vector<uchar> row(rgb.size() + 1);
            FilterRow(rgb.data(), y > 0 ? prev.data() : nullptr, rgb.size(), 3, true, row.data());
            stream.insert(stream.end(), row.begin(), row.end());
            prev = rgb;
        }
        QImage opaque = source;
        for (int y = 0; y < opaque.height(); ++y) {
            for (int x = 0; x < width; ++x) {
                opaque.scanLine(y)[4 * x + 3] = 255;
            }
        }
        const auto [whole, bands] = oursBothWays(pngAround(stream, width, source.height(), 2, 8, 100));
        EXPECT_EQ(whole, opaque);
        EXPECT_EQ(bands, opaque);
    }
}

TEST(PngDecode, ABigPictureIsDecodedWholeInBands) {
    // Past 8 MiB of rows the whole decode streams too: the bands must join without a seam.
    QImage source(1449, 1451, QImage::Format_RGBA8888);
    std::mt19937 random(31);
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < 4 * source.width(); ++x) {
            source.scanLine(y)[x] = static_cast<uchar>(y % 7 == 0 ? random() : x + y);
        }
    }
    const QByteArray png = EncodePng(source, PngFilters::Adaptive);
    EXPECT_EQ(oursBothWays(png).first, source);
    // Checked in bands too, and decoded afterwards from the start.
    PngDecoder decoder(bytesOf(png), static_cast<std::size_t>(png.size()), 1 << 24);
    EXPECT_NO_THROW(decoder.Check());
    decoder.Decode();
    EXPECT_EQ(decoder.Image(), source);
    // Read in bands that end inside the rows inflated ahead, and across them.
    for (const int rows : {1, 77, 500}) {
        PngDecoder banded(bytesOf(png), static_cast<std::size_t>(png.size()), 1 << 24);
        QImage band(source.width(), rows, QImage::Format_RGBA8888);
        for (int top = 0; top < source.height(); top += rows) {
            const int count = std::min(rows, source.height() - top);
            banded.ReadRows(band, count);
            EXPECT_EQ(band.copy(0, 0, band.width(), count), source.copy(0, top, source.width(), count)) << rows << " rows at " << top;
        }
    }
}

TEST(PngDecode, AStreamOfTheWrongLengthOrSumIsNoPicture) {
    const int width = 20;
    const int height = 6;
    std::vector<uchar> stream(static_cast<std::size_t>(4 * width + 1) * height, 9);
    for (std::size_t i = 0; i < stream.size(); i += 4 * width + 1) {
        stream[i] = 1;
    }
    std::vector<uchar> shortStream(stream.begin(), stream.end() - 1);
    std::vector<uchar> longStream = stream;
    longStream.push_back(0);
    std::vector<uchar> unknownFilter = stream;
    unknownFilter[3 * (4 * width + 1)] = 5;
    const QByteArray sound = pngAround(stream, width, height, 6, 8, 7);
    PngDecoder soundDecoder(bytesOf(sound), static_cast<std::size_t>(sound.size()), 1 << 24);
    EXPECT_NO_THROW(soundDecoder.Check());
    const QByteArray cases[] = {pngAround(shortStream, width, height, 6, 8, 1 << 20), pngAround(longStream, width, height, 6, 8, 7),
                                pngAround(stream, width, height, 6, 8, 1 << 20, true), pngAround(stream, width, height, 2, 8, 5, true),
                                pngAround(unknownFilter, width, height, 6, 8, 1 << 20)};
    for (const QByteArray& png : cases) {
        EXPECT_THROW(oursBothWays(png), RuntimeError);
        // Checking without decoding finds the same faults.
        PngDecoder decoder(bytesOf(png), static_cast<std::size_t>(png.size()), 1 << 24);
        EXPECT_THROW(decoder.Check(), RuntimeError);
        try {
            DecodePng(bytesOf(png), static_cast<std::size_t>(png.size()), 1 << 24);
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Number(), Err::InvalidPicture);
        }
    }
}

}  // namespace

TEST(PlainPng, OnlyFilesEveryReaderDrawsAsWeDecodeThem) {
    QImage image(4, 3, QImage::Format_RGBA8888);
    image.fill(QColor(10, 20, 30, 128));
    const QByteArray plain = EncodePng(image, PngFilters::Adaptive);
    // The file with a chunk put after its IHDR (8 bytes of signature, 25 of IHDR).
    const auto with = [&](const char* type) {
        QByteArray chunk;
        AppendPngChunk(chunk, type, "\0\0\xb1\x8f", 4);
        return plain.left(33) + chunk + plain.mid(33);
    };
    QByteArray badSum = plain;
    badSum[45] = static_cast<char>(badSum[45] ^ 1);  // in the IDAT data
    const std::vector<uchar> rows(static_cast<std::size_t>(3 * (1 + 4 * 8)), 0);
    const struct {
        const char* name;
        QByteArray file;
        int width;
        bool plain;
    } cases[] = {
        {"as encoded", plain, 4, true},
        {"with text", with("tEXt"), 4, true},
        {"of another width", plain, 5, false},
        {"with gamma", with("gAMA"), 4, false},
        {"with an ICC profile", with("iCCP"), 4, false},
        {"with a wrong checksum", badSum, 4, false},
        {"with bytes after its end", plain + "x", 4, false},
        {"cut short", plain.left(plain.size() - 6), 4, false},
        {"of 16-bit samples", pngAround(rows, 4, 3, 6, 16, 64), 4, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PlainPng(bytesOf(c.file), static_cast<std::size_t>(c.file.size()), c.width, 3), c.plain) << c.name;
    }
}

namespace {
// Two Paeth rows undone together equal each undone alone, with and without a row above, at
// widths around the first and last pixels' edge cases.
TEST(PngDecode, PaethRowsInPairsAndWavesEqualRowByRow) {
    std::mt19937 random(5);
    // Widths around the waves' edge steps (3 and 7 pixels) and their steps in fours.
    for (const std::size_t width : {1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 16, 33}) {
        const std::size_t n = 4 * width;
        std::vector<unsigned char> in(2 * n), above(n), pair(2 * n), alone(2 * n);
        for (unsigned char& byte : in) {
            byte = static_cast<unsigned char>(random());
        }
        for (unsigned char& byte : above) {
            byte = static_cast<unsigned char>(random());
        }
        for (const unsigned char* prev : {static_cast<const unsigned char*>(nullptr), static_cast<const unsigned char*>(above.data())}) {
            UnfilterPaethPair(in.data(), in.data() + n, pair.data(), pair.data() + n, prev, n);
            ASSERT_TRUE(UnfilterRow(4, in.data(), alone.data(), prev, n, 4));
            ASSERT_TRUE(UnfilterRow(4, in.data() + n, alone.data() + n, alone.data(), n, 4));
            EXPECT_EQ(pair, alone) << "width " << width << (prev ? " under a row" : " first");
            // Up to eight rows, where the processor takes them together: the pair's rows again.
            for (const std::size_t rows : {2, 3, 4, 5, 7, 8}) {
                std::vector<unsigned char> waveIn(rows * n), wave(rows * n), rowByRow(rows * n);
                for (std::size_t k = 0; k < rows * n; ++k) {
                    waveIn[k] = in[k % (2 * n)] ^ static_cast<unsigned char>(k / n);
                }
                std::vector<const unsigned char*> ins;
                std::vector<unsigned char*> outs;
                for (std::size_t k = 0; k < rows; ++k) {
                    ins.push_back(waveIn.data() + k * n);
                    outs.push_back(wave.data() + k * n);
                }
                if (UnfilterPaethRows(ins.data(), outs.data(), static_cast<int>(rows), prev, n)) {
                    for (std::size_t k = 0; k < rows; ++k) {
                        ASSERT_TRUE(UnfilterRow(4, ins[k], rowByRow.data() + k * n, k == 0 ? prev : rowByRow.data() + (k - 1) * n, n, 4));
                    }
                    EXPECT_EQ(wave, rowByRow) << rows << " rows, width " << width << (prev ? " under a row" : " first");
                    // In place, as the decoder may: each row's output over its input.
                    std::vector<unsigned char> inPlace = waveIn;
                    std::vector<unsigned char*> same;
                    for (std::size_t k = 0; k < rows; ++k) {
                        same.push_back(inPlace.data() + k * n);
                    }
                    ASSERT_TRUE(UnfilterPaethRows(same.data(), same.data(), static_cast<int>(rows), prev, n));
                    EXPECT_EQ(inPlace, rowByRow) << rows << " rows in place, width " << width;
                }
            }
        }
    }
}
}  // namespace

#if defined(__SSE2__)
namespace {
// Both vector forms of Paeth's predictor, the encoder's in bytes and the decoder's in 16-bit
// lanes, against the format's definition, for every a, b and c.
TEST(PngDecode, VectorPaethEqualsTheDefinitionForEveryByte) {
    const auto definition = [](int a, int b, int c) {
        const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
        return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
    };
    const __m128i zero = _mm_setzero_si128();
    long wrong = 0;
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            for (int c0 = 0; c0 < 256; c0 += 16) {
                const __m128i va = _mm_set1_epi8(static_cast<char>(a));
                const __m128i vb = _mm_set1_epi8(static_cast<char>(b));
                const __m128i vc = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
                const __m128i c = _mm_add_epi8(vc, _mm_set1_epi8(static_cast<char>(c0)));
                alignas(16) unsigned char bytes[16], wide[16];
                _mm_store_si128(reinterpret_cast<__m128i*>(bytes), PaethPredict(va, vb, c));
                const __m128i low = Paeth16(_mm_unpacklo_epi8(va, zero), _mm_unpacklo_epi8(vb, zero), _mm_unpacklo_epi8(c, zero));
                const __m128i high = Paeth16(_mm_unpackhi_epi8(va, zero), _mm_unpackhi_epi8(vb, zero), _mm_unpackhi_epi8(c, zero));
                _mm_store_si128(reinterpret_cast<__m128i*>(wide), _mm_packus_epi16(low, high));
                for (int k = 0; k < 16; ++k) {
                    const int expected = definition(a, b, c0 + k);
                    wrong += (bytes[k] != expected) + (wide[k] != expected);
                }
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}
}  // namespace
#endif
