#include "support/testsupport.h"

#include "imaging/picturesink.h"
#include "imaging/pngfilter.h"
#include "imaging/pngreader.h"
#include "imaging/pngwriter.h"
#include "runtime/runtimeerror.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QtEndian>

#include <random>

namespace {

// Every alpha value with colours that premultiplying would change.
QImage alphaPattern(int width, int height) {
    QImage image(width, height, QImage::Format_RGBA8888);
    std::mt19937 random(7);
    for (int y = 0; y < height; ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < 4 * width; ++x) {
            row[x] = x % 4 == 3 ? static_cast<uchar>((x / 4 + y) % 256) : static_cast<uchar>(random() % 256);
        }
    }
    return image;
}

QImage indexedPattern(int width, int height, int colours) {
    QImage image(width, height, QImage::Format_Indexed8);
    QList<QRgb> palette;
    for (int i = 0; i < colours; ++i) {
        palette.append(qRgba(i * 7 % 256, i * 13 % 256, i * 29 % 256, i == 3 ? 0 : i == 5 ? 128 : 255));
    }
    image.setColorTable(palette);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.scanLine(y)[x] = static_cast<uchar>((x * 3 + y * 5) % colours);
        }
    }
    return image;
}

QImage decode(const QByteArray& png) {
    return DecodePng(reinterpret_cast<const unsigned char*>(png.constData()), static_cast<std::size_t>(png.size()),
                     std::uint64_t{1} << 30);
}

bool sameBytes(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.format() != b.format()) {
        return false;
    }
    const qsizetype rowBytes = a.width() * a.depth() / 8;
    for (int y = 0; y < a.height(); ++y) {
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), static_cast<std::size_t>(rowBytes)) != 0) {
            return false;
        }
    }
    return true;
}

TEST(Png, RgbaRoundTripsExactlyAndQtReadsTheSamePixels) {
    // 1 by 1, a tile, and one big enough to be filtered on several threads.
    for (const QSize size : {QSize(1, 1), QSize(32, 32), QSize(700, 500)}) {
        SCOPED_TRACE(size.width());
        const QImage source = alphaPattern(size.width(), size.height());
        for (const PngFilters filters : {PngFilters::Adaptive, PngFilters::None}) {
            const QByteArray png = EncodePng(source, filters);
            EXPECT_TRUE(sameBytes(decode(png), source));
            // An independent decoder (libpng through Qt) agrees, straight alpha included.
            QImage byQt = QImage::fromData(png, "PNG");
            ASSERT_FALSE(byQt.isNull());
            EXPECT_TRUE(sameBytes(byQt.convertToFormat(QImage::Format_RGBA8888), source));
        }
    }
}

TEST(Png, FiltersAreChosenByWhatCompressesBetter) {
    // A few exact colours dithered, as in pixel art, and a smooth gradient.
    QImage blocks(256, 64, QImage::Format_RGBA8888);
    QImage gradient(256, 64, QImage::Format_RGBA8888);
    std::mt19937 random(3);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 256; ++x) {
            const int colour = static_cast<int>(random() % 4);
            blocks.setPixelColor(x, y, QColor::fromRgb(qRgba(colour * 50, 255 - colour * 40, colour * 13, 255)));
            gradient.setPixelColor(x, y, QColor::fromRgb(qRgba(x, (x + y * 3) % 256, y * 4 % 256, 255)));
        }
    }
    // Either gauge, and premultiplied pixels (a map's bands), judged by the straight pixels written.
    for (const Deflater deflater : {Deflater::Libdeflate, Deflater::Igzip}) {
        for (const bool premultiplied : {false, true}) {
            const auto as = [&](const QImage& image) {
                return premultiplied ? image.convertToFormat(QImage::Format_ARGB32_Premultiplied) : image;
            };
            EXPECT_EQ(ChooseFilters(as(blocks), 0, 64, deflater), PngFilters::None) << premultiplied;
            EXPECT_EQ(ChooseFilters(as(gradient), 0, 64, deflater), PngFilters::Adaptive) << premultiplied;
            // A range further down is gauged by its own rows: gradient under pixel art.
            QImage stacked(256, 128, QImage::Format_RGBA8888);
            QPainter painter(&stacked);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.drawImage(0, 0, blocks);
            painter.drawImage(0, 64, gradient);
            painter.end();
            EXPECT_EQ(ChooseFilters(as(stacked), 64, 64, deflater), PngFilters::Adaptive) << premultiplied;
            EXPECT_EQ(ChooseFilters(as(stacked), 0, 64, deflater), PngFilters::None) << premultiplied;
        }
    }
    for (const QImage& image : {blocks, gradient}) {
        const PngFilters chosen = ChooseFilters(image, 0, 64);
        const PngFilters other = chosen == PngFilters::None ? PngFilters::Adaptive : PngFilters::None;
        EXPECT_LT(EncodePng(image, chosen).size(), EncodePng(image, other).size());
    }
}

TEST(Png, AdaptiveFilterRowsAreTheHeuristicsBytesOnEveryPath) {
    // The heuristic written plainly: each filter's bytes, the least sum of |signed byte|,
    // the first filter on a tie.
    const auto plain = [](const std::vector<uchar>& row, const std::vector<uchar>& prev, int bpp) {
        const std::size_t n = row.size();
        std::vector<uchar> best;
        long bestSum = -1;
        for (int f = 0; f <= 4; ++f) {
            std::vector<uchar> out(n + 1, static_cast<uchar>(f));
            long sum = 0;
            for (std::size_t i = 0; i < n; ++i) {
                const int a = i >= static_cast<std::size_t>(bpp) ? row[i - bpp] : 0, b = prev[i];
                const int c = i >= static_cast<std::size_t>(bpp) ? prev[i - bpp] : 0;
                const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                const int paeth = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
                const int predicted[5] = {0, a, b, (a + b) / 2, paeth};
                out[i + 1] = static_cast<uchar>(row[i] - predicted[f]);
                sum += std::abs(static_cast<signed char>(out[i + 1]));
            }
            if (bestSum < 0 || sum < bestSum) {
                bestSum = sum;
                best = out;
            }
        }
        return best;
    };
    std::mt19937 random(11);
    for (const bool avx2 : {true, false}) {
        UseAvx2Filters(avx2);
        // Widths around the vector steps; noise, smooth ramps, and rows like the one above.
        for (const int width : {1, 3, 4, 5, 8, 9, 16, 31, 33, 100}) {
            for (int kind = 0; kind < 3; ++kind) {
                SCOPED_TRACE(testing::Message() << "avx2 " << avx2 << ", width " << width << ", kind " << kind);
                const std::size_t n = static_cast<std::size_t>(width) * 4;
                std::vector<uchar> prev(n), row(n), out(n + 1);
                for (std::size_t i = 0; i < n; ++i) {
                    prev[i] = static_cast<uchar>(random());
                    row[i] = kind == 0 ? static_cast<uchar>(random()) : kind == 1 ? static_cast<uchar>(i * 3 + random() % 3)
                                                                                  : static_cast<uchar>(prev[i] + random() % 2);
                }
                FilterRow(row.data(), prev.data(), n, 4, true, out.data());
                EXPECT_EQ(out, plain(row, prev, 4));
                FilterRow(row.data(), nullptr, n, 4, true, out.data());
                EXPECT_EQ(out, plain(row, std::vector<uchar>(n, 0), 4));
            }
        }
    }
    UseAvx2Filters(true);
}

TEST(Png, IndexedKeepsIndexesPaletteAndTransparentEntries) {
    for (const int colours : {2, 16, 256}) {
        SCOPED_TRACE(colours);
        const QImage source = indexedPattern(37, 11, colours);
        const QImage back = decode(EncodePng(source, PngFilters::Adaptive));
        EXPECT_TRUE(sameBytes(back, source));
        EXPECT_EQ(back.colorTable(), source.colorTable());
    }
}

TEST(Png, ReadsThePackedIndexesOfOtherWriters) {
    // Qt writes a palette of up to 16 colours with fewer bits per pixel.
    for (const int colours : {2, 4, 16}) {
        SCOPED_TRACE(colours);
        const QImage source = indexedPattern(13, 5, colours);
        QByteArray png;
        QBuffer buffer(&png);
        ASSERT_TRUE(QImageWriter(&buffer, "png").write(source));
        const QImage back = decode(png);
        ASSERT_EQ(back.format(), QImage::Format_Indexed8);
        for (int y = 0; y < source.height(); ++y) {
            for (int x = 0; x < source.width(); ++x) {
                ASSERT_EQ(back.pixel(x, y), source.pixel(x, y)) << x << "," << y;
            }
        }
    }
}

// CRC-32 as PNG defines it, bit by bit.
std::uint32_t crc32Of(const char* data, qsizetype size) {
    std::uint32_t crc = 0xffffffffu;
    for (qsizetype i = 0; i < size; ++i) {
        crc ^= static_cast<uchar>(data[i]);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

TEST(Png, EveryChunkCarriesItsChecksum) {
    // The big one is compressed in parts: they must join into one stream with one sum.
    for (const QImage& image : {alphaPattern(32, 32), indexedPattern(9, 9, 16), alphaPattern(700, 997)}) {
        const QByteArray png = EncodePng(image, PngFilters::Adaptive);
        QStringList types;
        QByteArray stream;
        for (qsizetype at = 8; at + 12 <= png.size();) {
            const auto length = static_cast<qsizetype>(qFromBigEndian<quint32>(png.constData() + at));
            ASSERT_LE(at + 12 + length, png.size());
            types += QString::fromLatin1(png.mid(at + 4, 4));
            if (types.last() == "IDAT") {
                stream += png.mid(at + 8, length);
            }
            EXPECT_EQ(qFromBigEndian<quint32>(png.constData() + at + 8 + length), crc32Of(png.constData() + at + 4, length + 4))
                << types.last().toStdString();
            at += 12 + length;
        }
        EXPECT_EQ(types.first(), "IHDR");
        EXPECT_EQ(types.last(), "IEND");
        // zlib itself checks the stream's end and its Adler-32.
        const qsizetype raw = image.height() * (1 + image.width() * image.depth() / 8);
        QByteArray sized(4, '\0');
        qToBigEndian(static_cast<quint32>(raw), sized.data());
        EXPECT_EQ(qUncompress(sized + stream).size(), raw) << image.width();
    }
}

TEST(Png, AFileWrittenInBandsIsTheWholePicture) {
    TestFolder folder;
    const QImage source = alphaPattern(613, 900);
    for (const int rows : {1, 77, 900}) {
        const QString path = folder.File(QStringLiteral("bands-%1.png").arg(rows));
        PictureSink out(path, source.size(), TileFormat::Png);
        for (int top = 0; top < source.height(); top += rows) {
            out.WriteRows(source.copy(0, top, source.width(), std::min(rows, source.height() - top)));
        }
        out.Commit();
        const QImage byQt(path);
        ASSERT_FALSE(byQt.isNull()) << rows;
        EXPECT_TRUE(sameBytes(byQt.convertToFormat(QImage::Format_RGBA8888), source)) << rows;
    }
}

TEST(Png, BrokenFilesAreNoPicture) {
    const QByteArray png = EncodePng(alphaPattern(64, 64), PngFilters::Adaptive);
    const QByteArray cases[] = {png.left(png.size() / 2), png.left(40), QByteArray("\x89PNG\r\n\x1a\n", 8)};
    for (const QByteArray& broken : cases) {
        try {
            decode(broken);
            ADD_FAILURE() << "decoded " << broken.size() << " bytes";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Number(), Err::InvalidPicture);
        }
    }
    // A header that claims more pixels than allowed is refused before anything is decoded.
    EXPECT_THROW(DecodePng(reinterpret_cast<const unsigned char*>(png.constData()), static_cast<std::size_t>(png.size()), 64 * 64 - 1),
                 RuntimeError);
}

}  // namespace
