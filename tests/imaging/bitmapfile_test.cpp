#include "imaging/bitmapfile.h"
#include "runtime/runtimeerror.h"
#include "support/bitmapwriter.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImageReader>

#include <sys/stat.h>

namespace {

int FailureOfLoad(const QString& path) {
    try {
        LoadBitmapFile(path);
    } catch (const RuntimeError& failure) {
        return failure.Number();
    }
    return 0;
}

TEST(BitmapFile, TrueColourBitmapsOfEveryRowPaddingLoadAsTheToolkitReadsThem) {
    for (const int bits : {24, 32}) {
        for (const bool topDown : {false, true}) {
            for (const int width : {1, 2, 3, 5, 33}) {
                SCOPED_TRACE(testing::Message() << bits << " bits, width " << width << (topDown ? " top-down" : ""));
                TestFolder folder;
                const BitmapLayout layout{bits, topDown, false};
                const QImage pattern = PatternImage(width, 7, layout);
                WriteBytes(folder.File("a.bmp"), EncodeBitmap(pattern, layout));
                const QImage loaded = LoadBitmapFile(folder.File("a.bmp"));
                EXPECT_EQ(AsRgb32(loaded), pattern);
                EXPECT_EQ(AsRgb32(QImageReader(folder.File("a.bmp")).read()), AsRgb32(loaded));
            }
        }
    }
}

TEST(BitmapFile, BigPicturesBeyondTheToolkitsDefaultLimitLoad) {
    // 6000 by 6000 at 8 bits: a 36 MB file, 144 MB once widened to 32 bits.
    TestFolder folder;
    const BitmapLayout layout{8, false, false};
    const QImage pattern = PatternImage(6000, 6000, layout);
    WriteBytes(folder.File("big.bmp"), EncodeBitmap(pattern, layout));
    const QImage loaded = AsRgb32(LoadBitmapFile(folder.File("big.bmp")));
    ASSERT_EQ(loaded.size(), QSize(6000, 6000));
    for (const QPoint p : {QPoint(0, 0), QPoint(5999, 5999), QPoint(1234, 4321)}) {
        EXPECT_EQ(loaded.pixel(p), pattern.color(pattern.pixelIndex(p)));
    }
}

TEST(BitmapFile, LoadFailures) {
    TestFolder folder;
    WriteBytes(folder.File("text.bmp"), "not a picture");
    WriteBytes(folder.File("empty.bmp"), "");
    ASSERT_TRUE(QDir(folder.Path()).mkdir("folder.bmp"));
    EXPECT_EQ(FailureOfLoad(folder.File("missing.bmp")), 53);
    EXPECT_EQ(FailureOfLoad(folder.File("text.bmp")), 481);
    EXPECT_EQ(FailureOfLoad(folder.File("empty.bmp")), 481);
    EXPECT_EQ(FailureOfLoad(folder.File("folder.bmp")), 481);
}

TEST(BitmapFile, SaveWritesA24BitBitmapAndNeverAHalfOne) {
    TestFolder folder;
    QImage image(3, 2, QImage::Format_RGB32);
    image.setPixel(0, 0, qRgb(1, 2, 3));
    image.setPixel(1, 0, qRgb(4, 5, 6));
    image.setPixel(2, 0, qRgb(7, 8, 9));
    image.setPixel(0, 1, qRgb(10, 11, 12));
    image.setPixel(1, 1, qRgb(13, 14, 15));
    image.setPixel(2, 1, qRgb(16, 17, 18));
    SaveBitmapFile(image, 3, 2, folder.File("a.bmp"));
    const QByteArray bytes = ReadBytes(folder.File("a.bmp"));
    ASSERT_EQ(bytes.size(), 54 + 2 * 12);
    EXPECT_EQ(bytes.left(2), QByteArray("BM"));
    EXPECT_EQ(static_cast<int>(bytes[28]), 24);
    // Bottom row first, blue green red, rows padded to four bytes.
    EXPECT_EQ(bytes.mid(54), QByteArray("\x0c\x0b\x0a\x0f\x0e\x0d\x12\x11\x10\0\0\0"
                                        "\x03\x02\x01\x06\x05\x04\x09\x08\x07\0\0\0",
                                        24));
    EXPECT_EQ(AsRgb32(QImage(folder.File("a.bmp"))), image);

    // A read-only file stays; nothing is left beside it.
    WriteBytes(folder.File("ro.bmp"), "old");
    ASSERT_EQ(::chmod(QFile::encodeName(folder.File("ro.bmp")).constData(), 0444), 0);
    EXPECT_THROW(SaveBitmapFile(image, 3, 2, folder.File("ro.bmp")), RuntimeError);
    EXPECT_EQ(ReadBytes(folder.File("ro.bmp")), QByteArray("old"));
    EXPECT_EQ(QDir(folder.Path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"a.bmp", "ro.bmp"}));
}

// A 24-bit picture is written from its own rows: the same bytes as from 32 bits, with or
// without row padding, cropped or widened with the background, whole or in memory.
TEST(BitmapFile, ThreeAndFourBytePicturesSaveAlike) {
    TestFolder folder;
    // 3000 rows take more parts than one system call accepts.
    const QSize sizes[] = {{1, 1}, {2, 3}, {3, 7}, {4, 5}, {5, 2}, {32, 32}, {33, 9}, {4, 3000}};
    for (const QSize size : sizes) {
        const QImage wide = PatternImage(size.width(), size.height(), BitmapLayout{});
        const QImage narrow = wide.convertToFormat(QImage::Format_BGR888);
        for (const QSize saved : {size, size + QSize(3, 2), size - QSize(size.width() / 2, 0)}) {
            SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height() << " saved as " << saved.width()
                                            << "x" << saved.height());
            SaveBitmapFile(wide, saved.width(), saved.height(), folder.File("wide.bmp"));
            SaveBitmapFile(narrow, saved.width(), saved.height(), folder.File("narrow.bmp"));
            const QByteArray bytes = ReadBytes(folder.File("wide.bmp"));
            EXPECT_EQ(ReadBytes(folder.File("narrow.bmp")), bytes);
            std::vector<unsigned char> held;
            EncodeBitmapFile(narrow, saved.width(), saved.height(), held);
            EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(held.data()), static_cast<qsizetype>(held.size())), bytes);
            EXPECT_EQ(AsRgb32(LoadBitmapFile(folder.File("narrow.bmp"))), AsRgb32(QImage(folder.File("narrow.bmp"))));
        }
    }
}

// A big 24-bit sheet is read in shares, one a core: every row lands in its place, the last
// one without its padding too, and a file short of one byte is refused.
TEST(BitmapFile, BigTrueColourSheetsReadInSharesWhole) {
    TestFolder folder;
    for (const bool topDown : {false, true}) {
        SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
        const BitmapLayout layout{24, topDown, false};
        const QImage pattern = PatternImage(2049, 2901, layout);  // 18 MB: two shares; rows padded by 1 byte
        QByteArray bytes = EncodeBitmap(pattern, layout);
        bytes.chop(1);  // the last row's padding
        WriteBytes(folder.File("big.bmp"), bytes);
        EXPECT_EQ(AsRgb32(LoadBitmapFile(folder.File("big.bmp"))), pattern);
        bytes.chop(1);
        WriteBytes(folder.File("big.bmp"), bytes);
        EXPECT_EQ(FailureOfLoad(folder.File("big.bmp")), 481);
    }
}

}  // namespace
