#include "records/bmpsize.h"

#include "records/imagebytes.h"
#include "support/testsupport.h"

#include <QFileInfo>
#include <QImage>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace imagebytes;

namespace {

struct Info {
    std::int32_t type;
    std::int32_t width;
    std::int32_t height;
    std::int32_t depth;
};

struct HeaderCase {
    const char* name;
    QByteArray bytes;
    Info expected;
};

Info Read(bmpsize& reader, const QString& path) {
    reader.ReadImageInfo(path);
    return {reader.ImageType(), reader.Width(), reader.Height(), reader.Depth()};
}

void ExpectInfo(const Info& got, const Info& want) {
    EXPECT_EQ(got.type, want.type) << "ImageType";
    EXPECT_EQ(got.width, want.width) << "Width";
    EXPECT_EQ(got.height, want.height) << "Height";
    EXPECT_EQ(got.depth, want.depth) << "Depth";
}

// Each case runs on a new object and on one that has just read a different image, so a
// value that a read forgets to reset shows up.
void RunCases(const std::vector<HeaderCase>& cases) {
    TestFolder folder;
    const QString earlier = folder.File("earlier.gif");
    WriteBytes(earlier, Gif(0x4321, 0x1234, 0x02));
    const QString path = folder.File("image.bin");
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(path, c.bytes);
        ASSERT_EQ(QFileInfo(path).size(), c.bytes.size());
        bmpsize fresh;
        ExpectInfo(Read(fresh, path), c.expected);
        bmpsize used;
        ExpectInfo(Read(used, earlier), {1, 0x4321, 0x1234, 3});
        ExpectInfo(Read(used, path), c.expected);
    }
}

}  // namespace

TEST(BmpSize, AllValuesZeroBeforeTheFirstRead) {
    const bmpsize reader;
    ExpectInfo({reader.ImageType(), reader.Width(), reader.Height(), reader.Depth()}, {0, 0, 0, 0});
}

TEST(BmpSize, BitmapHeaders) {
    RunCases({
        {"empty file", QByteArray(), {0, 0, 0, 0}},
        {"24-bit 100 by 70", Bmp(100, 70, 24, 300 * 70), {4, 100, 70, 24}},
        {"100,000 pixels wide", Bmp(100000, 2, 24, 16), {4, 34464, 2, 24}},
        {"top-down, height -32", Bmp(32, -32, 24, 96 * 32), {4, 32, 65504, 24}},
        {"only the two bytes BM", QByteArray("BM"), {4, 0, 0, 0}},
        {"65535 by 65536, 8-bit", Bmp(65535, 65536, 8), {4, 65535, 0, 8}},
        {"32-bit 1 by 1", Bmp(1, 1, 32, 4), {4, 1, 1, 32}},
        {"depth from the low byte of the bits field", Bmp(7, 9, 0x0118), {4, 7, 9, 24}},
        {"larger than 64 KiB", Bmp(400, 300, 24, 1200 * 300), {4, 400, 300, 24}},
        {"bm in lower case is no bitmap", QByteArray("bm") + Bmp(5, 5, 24).mid(2), {0, 0, 0, 0}},
    });
}

TEST(BmpSize, PngHeaders) {
    RunCases({
        {"grey, 16 bits", Png(10, 20, 16, 0), {3, 10, 20, 16}},
        {"grey, 1 bit", Png(10, 20, 1, 0), {3, 10, 20, 1}},
        {"RGB, 8 bits", Png(640, 480, 8, 2), {3, 640, 480, 24}},
        {"RGB, 16 bits", Png(640, 480, 16, 2), {3, 640, 480, 48}},
        {"palette, 4 bits", Png(3, 4, 4, 3), {3, 3, 4, 8}},
        {"palette, 1 bit", Png(3, 4, 1, 3), {3, 3, 4, 8}},
        {"grey and alpha, 8 bits", Png(300, 2, 8, 4), {3, 300, 2, 16}},
        {"RGBA, 8 bits", Png(1, 65535, 8, 6), {3, 1, 65535, 32}},
        {"RGBA, 16 bits", Png(2, 3, 16, 6), {3, 2, 3, 64}},
        {"product wraps: RGBA x 64", Png(2, 3, 64, 6), {3, 2, 3, 0}},
        {"product wraps: RGB x 128", Png(2, 3, 128, 2), {3, 2, 3, 128}},
        {"product wraps: RGBA x 255", Png(2, 3, 255, 6), {3, 2, 3, 252}},
        {"product wraps: grey-alpha x 200", Png(2, 3, 200, 4), {3, 2, 3, 144}},
        {"70,000 pixels wide", Png(70000, 131073, 8, 2), {3, 4464, 1, 24}},
        {"colour type 1", Png(10, 20, 8, 1), {0, 0, 0, 0}},
        {"colour type 5", Png(10, 20, 8, 5), {0, 0, 0, 0}},
        {"colour type 255", Png(10, 20, 8, 255), {0, 0, 0, 0}},
        // Only three signature bytes count: the zero-filled rest reads as grey of depth 0.
        {"three signature bytes only", Bytes({0x89, 'P', 'N'}), {3, 0, 0, 0}},
        {"broken rest of signature", Bytes({0x89, 'P', 'N', 'X', 0, 0, 0, 0}) + Png(9, 8, 8, 6).mid(8),
         {3, 9, 8, 32}},
        // A PNG of unknown colour type is scanned for a JPEG like any other bytes.
        {"colour type 5 holding a JPEG", Png(10, 20, 8, 5, PngChunk("jpEg", Jpeg(0xC0, 320, 200, 3))),
         {2, 320, 200, 24}},
        {"colour type 6 holding a JPEG", Png(10, 20, 8, 6, PngChunk("jpEg", Jpeg(0xC0, 320, 200, 3))),
         {3, 10, 20, 32}},
    });
}

TEST(BmpSize, GifHeaders) {
    RunCases({
        {"byte 10 is 0xF7", Gif(300, 200, 0xF7), {1, 300, 200, 8}},
        {"byte 10 is 0x00", Gif(300, 200, 0x00), {1, 300, 200, 1}},
        {"global table of 16", Gif(1, 2, 0x83), {1, 1, 2, 4}},
        {"only high bits set", Gif(1, 2, 0xF8), {1, 1, 2, 1}},
        {"65535 by 256", Gif(65535, 256, 0x01), {1, 65535, 256, 2}},
        {"version not examined", Gif(4, 5, 0x07, "GIFxyz"), {1, 4, 5, 8}},
        {"only the three bytes GIF", QByteArray("GIF"), {1, 0, 0, 1}},
        {"gif in lower case is no GIF", QByteArray("gif89a") + Le16(4) + Le16(5), {0, 0, 0, 0}},
    });
}

TEST(BmpSize, JpegFrames) {
    RunCases({
        {"baseline 640 by 480, 3 components", Jpeg(0xC0, 640, 480, 3), {2, 640, 480, 24}},
        {"greyscale", Jpeg(0xC0, 640, 480, 1), {2, 640, 480, 8}},
        {"progressive", Jpeg(0xC2, 1024, 768, 3), {2, 1024, 768, 24}},
        {"CMYK", Jpeg(0xC1, 33, 44, 4), {2, 33, 44, 32}},
        {"65535 by 65535", Jpeg(0xC0, 65535, 65535, 3), {2, 65535, 65535, 24}},
        {"32 components wrap to 0", Jpeg(0xC0, 5, 6, 32), {2, 5, 6, 0}},
        {"255 components wrap to 248", Jpeg(0xC0, 5, 6, 255), {2, 5, 6, 248}},
        {"Huffman table before the frame",
         Soi() + App0() + Dht() + Dht() + Dqt() + Sof(0xC0, 800, 600, 3) + Eoi(), {2, 800, 600, 24}},
        {"fill bytes before the frame",
         Soi() + App0() + Bytes({0xFF, 0xFF, 0xFF, 0xFF}) + Sof(0xC0, 12, 34, 3), {2, 12, 34, 24}},
        {"fill bytes right after the start of image",
         Soi() + Bytes({0xFF, 0xFF, 0xFF}) + Sof(0xC2, 12, 34, 1), {2, 12, 34, 8}},
        {"zero-length segment", Soi() + Bytes({0xFF, 0xE0, 0, 0}) + Sof(0xC0, 7, 8, 3), {2, 7, 8, 24}},
        {"one-length segment", Soi() + Bytes({0xFF, 0xE0, 0, 1}) + Sof(0xC0, 7, 8, 3), {2, 7, 8, 24}},
        // The walk lands on a segment's last byte; an 0xFF there opens the next marker.
        {"segment ending in 0xFF before a bare frame code",
         Soi() + Segment(0xE1, Bytes({1, 2, 0xFF})) + Sof(0xC0, 640, 480, 3).mid(1), {2, 640, 480, 24}},
        {"second start of image skipped by its two bytes",
         Soi() + Segment(0xD8, Bytes({0xC0, 0xC0})) + Sof(0xC0, 9, 10, 3), {2, 9, 10, 24}},
        {"stuffed 0xFF 0x00 skipped as a segment",
         Soi() + Segment(0x00, Filler(6)) + Sof(0xC0, 9, 10, 3), {2, 9, 10, 24}},
        {"restart marker skipped as a segment",
         Soi() + Segment(0xD3, Filler(3)) + Sof(0xC0, 9, 10, 3), {2, 9, 10, 24}},
        {"segment length past the buffer", Soi() + Bytes({0xFF, 0xE1, 0xFF, 0xFF}) + Sof(0xC0, 9, 10, 3),
         {0, 0, 0, 0}},
        {"frame without start of image", Sof(0xC0, 640, 480, 3), {0, 0, 0, 0}},
        {"near misses of the start of image",
         Bytes({0xFF, 0xD8, 0x00, 0xD8, 0xFF, 0xFF, 0xD8}) + Filler(5) + Sof(0xC0, 640, 480, 3), {0, 0, 0, 0}},
        {"no marker at all", Filler(5000), {0, 0, 0, 0}},
    });
}

TEST(BmpSize, EveryFrameCodeAndNoOther) {
    std::vector<HeaderCase> cases;
    std::vector<QByteArray> names;
    names.reserve(16);
    for (int code = 0xC0; code <= 0xCF; ++code) {
        const bool frame = code != 0xC4 && code != 0xC8 && code != 0xCC;
        // A segment with this code comes first; only a frame code may stop the walk there.
        const QByteArray bytes = Soi() + Sof(code, 111, 222, 1) + Sof(0xC0, 640, 480, 3);
        names.push_back(QByteArray("code 0x") + QByteArray::number(code, 16));
        cases.push_back({names.back().constData(), bytes, frame ? Info{2, 111, 222, 8} : Info{2, 640, 480, 24}});
    }
    RunCases(cases);
}

TEST(BmpSize, JpegPositionLimits) {
    const QByteArray frame = Sof(0xC0, 640, 480, 3);
    // The start of image at index s; its third byte opens the frame marker.
    auto startAt = [&](qsizetype s) { return Filler(s) + Soi() + frame; };
    // A first segment sized so that the frame's 0xFF lands at index at.
    auto frameAt = [&](qsizetype at) { return Soi() + Segment(0xE1, Filler(at - 6)) + frame; };
    RunCases({
        {"start of image at 100", startAt(100), {2, 640, 480, 24}},
        {"start of image at 65522", startAt(65522), {2, 640, 480, 24}},
        {"start of image at 65523", startAt(65523), {0, 0, 0, 0}},
        {"start of image at 65524", startAt(65524), {0, 0, 0, 0}},
        {"start of image at 65525", startAt(65525), {0, 0, 0, 0}},
        {"start of image at 65526", startAt(65526), {0, 0, 0, 0}},
        {"frame marker at 65524", frameAt(65524), {2, 640, 480, 24}},
        {"frame marker at 65525", frameAt(65525), {0, 0, 0, 0}},
        {"frame far past 64 KiB", Soi() + Segment(0xE1, Filler(65000)) + Segment(0xE2, Filler(40000)) + frame,
         {0, 0, 0, 0}},
        {"start of image past 64 KiB", startAt(70000), {0, 0, 0, 0}},
        {"JPEG followed by 200 KiB", Jpeg(0xC0, 640, 480, 3) + Filler(200 * 1024), {2, 640, 480, 24}},
    });
    // Guard the builders: the boundary cases must put the bytes where their names say.
    EXPECT_EQ(startAt(65522).indexOf(Soi() + Bytes({0xFF, 0xC0})), 65522);
    EXPECT_EQ(frameAt(65525).indexOf(Bytes({0xFF, 0xC0})), 65525);
}

// Files written by Qt's own encoders, as a user's tools would write them.
TEST(BmpSize, FilesFromImageEncoders) {
    struct EncodedCase {
        const char* name;
        QImage::Format format;
        const char* encoder;
        Info expected;
    };
    const std::vector<EncodedCase> cases = {
        {"PNG with alpha", QImage::Format_ARGB32, "PNG", {3, 200, 150, 32}},
        {"PNG without alpha", QImage::Format_RGB32, "PNG", {3, 200, 150, 24}},
        {"PNG greyscale", QImage::Format_Grayscale8, "PNG", {3, 200, 150, 8}},
        {"JPEG colour", QImage::Format_RGB32, "JPEG", {2, 200, 150, 24}},
        {"JPEG greyscale", QImage::Format_Grayscale8, "JPEG", {2, 200, 150, 8}},
        {"BMP colour", QImage::Format_RGB32, "BMP", {4, 200, 150, 24}},
        {"BMP palette", QImage::Format_Indexed8, "BMP", {4, 200, 150, 8}},
    };
    TestFolder folder;
    for (const EncodedCase& c : cases) {
        SCOPED_TRACE(c.name);
        QImage image(200, 150, c.format);
        if (c.format == QImage::Format_Indexed8) {
            image.setColorCount(256);
            for (int k = 0; k < 256; ++k) {
                image.setColor(k, qRgb(k, 255 - k, k / 2));
            }
        }
        image.fill(7);
        const QString path = folder.File(QStringLiteral("encoded.") + QString::fromLatin1(c.encoder).toLower());
        if (!image.save(path, c.encoder)) {
            ADD_FAILURE() << "Qt could not write " << c.encoder;
            continue;
        }
        bmpsize reader;
        ExpectInfo(Read(reader, path), c.expected);
    }
}
