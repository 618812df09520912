#include "records/bmpsize.h"

#include "records/imagebytes.h"
#include "runtime/runtimeerror.h"
#include "support/testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImageReader>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <vector>

using namespace imagebytes;

namespace {

void ExpectAllZero(const bmpsize& reader) {
    EXPECT_EQ(reader.ImageType(), 0);
    EXPECT_EQ(reader.Width(), 0);
    EXPECT_EQ(reader.Height(), 0);
    EXPECT_EQ(reader.Depth(), 0);
}

// Reads a good bitmap first, so that the failing read must clear real values.
void ReadGoodBitmap(bmpsize& reader, const TestFolder& folder) {
    const QString good = folder.File("good.bmp");
    WriteBytes(good, Bmp(100, 70, 24, 300 * 70));
    reader.ReadImageInfo(good);
    ASSERT_EQ(reader.ImageType(), 4);
    ASSERT_EQ(reader.Width(), 100);
}

}  // namespace

TEST(BmpSizeFiles, UnreadableFilesPassTheFileErrorUpAndClearTheValues) {
    struct FailCase {
        const char* name;
        std::function<QString(const TestFolder&)> path;
        std::int32_t number;
    };
    const std::vector<FailCase> cases = {
        {"missing file", [](const TestFolder& f) { return f.File("missing.bmp"); }, Err::FileNotFound},
        {"missing folder", [](const TestFolder& f) { return f.File("nowhere/missing.bmp"); }, Err::FileNotFound},
        {"empty path", [](const TestFolder&) { return QString(); }, Err::FileNotFound},
        {"a folder", [](const TestFolder& f) { return f.Path(); }, Err::PathFileAccess},
        {"a file used as a folder", [](const TestFolder& f) { return f.File("good.bmp/inner.bmp"); },
         Err::PathNotFound},
        // The part before the NUL names a readable bitmap; it must not be the one read.
        {"NUL inside the name", [](const TestFolder& f) { return f.File("good.bmp") + QChar(0) + ".txt"; },
         Err::BadFileName},
    };
    for (const FailCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestFolder folder;
        bmpsize reader;
        ReadGoodBitmap(reader, folder);
        try {
            reader.ReadImageInfo(c.path(folder));
            ADD_FAILURE() << "no failure raised";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Number(), c.number);
            EXPECT_EQ(e.Description(), ErrorDescription(c.number));
        }
        ExpectAllZero(reader);
    }
}

TEST(BmpSizeFiles, FileWithoutReadPermission) {
    TestFolder folder;
    const QString path = folder.File("locked.bmp");
    WriteBytes(path, Bmp(10, 10, 24));
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0), 0);
    const int probe = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (probe >= 0) {
        ::close(probe);
        GTEST_SKIP() << "this user reads files without read permission (root)";
    }
    bmpsize reader;
    ReadGoodBitmap(reader, folder);
    try {
        reader.ReadImageInfo(path);
        ADD_FAILURE() << "no failure raised";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), Err::PermissionDenied);
    }
    ExpectAllZero(reader);
}

// A FIFO with no writer reads as an empty file; it must not block the window.
TEST(BmpSizeFiles, FifoWithoutWriterReadsAsEmpty) {
    TestFolder folder;
    const QString path = folder.File("pipe.bmp");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
    bmpsize reader;
    ReadGoodBitmap(reader, folder);
    reader.ReadImageInfo(path);
    ExpectAllZero(reader);
}

TEST(BmpSizeFiles, LaterReadReplacesEveryValue) {
    TestFolder folder;
    const QString png = folder.File("a.png");
    const QString jpeg = folder.File("b.jpg");
    const QString unknown = folder.File("c.png");
    WriteBytes(png, Png(70000, 9, 16, 6));
    WriteBytes(jpeg, Jpeg(0xC2, 17, 19, 1));
    WriteBytes(unknown, Png(5, 6, 8, 5));
    bmpsize reader;
    reader.ReadImageInfo(png);
    EXPECT_EQ(reader.ImageType(), 3);
    EXPECT_EQ(reader.Width(), 4464);
    EXPECT_EQ(reader.Height(), 9);
    EXPECT_EQ(reader.Depth(), 64);
    reader.ReadImageInfo(jpeg);
    EXPECT_EQ(reader.ImageType(), 2);
    EXPECT_EQ(reader.Width(), 17);
    EXPECT_EQ(reader.Height(), 19);
    EXPECT_EQ(reader.Depth(), 8);
    // A PNG of unknown colour type and no JPEG inside: nothing of the JPEG may survive.
    reader.ReadImageInfo(unknown);
    ExpectAllZero(reader);
}

TEST(BmpSizeFiles, NonAsciiPath) {
    TestFolder folder;
    ASSERT_TRUE(QDir(folder.Path()).mkdir(QStringLiteral("タイル")));
    const QString path = folder.File(QStringLiteral("タイル/été.bmp"));
    WriteBytes(path, Bmp(64, 96, 8, 64 * 96));
    bmpsize reader;
    reader.ReadImageInfo(path);
    EXPECT_EQ(reader.ImageType(), 4);
    EXPECT_EQ(reader.Width(), 64);
    EXPECT_EQ(reader.Height(), 96);
    EXPECT_EQ(reader.Depth(), 8);
}

// The good bitmaps of BMP Suite, against Qt's decoder. Files with the old 12-byte OS/2
// header keep their height elsewhere, and the reader uses fixed offsets, so they are left out.
TEST(BmpSizeFiles, BmpSuiteGoodFilesAgreeWithTheDecoder) {
    const QString suite = BmpSuiteFolder();
    if (suite.isEmpty()) {
        GTEST_SKIP() << "BMP Suite folder not found";
    }
    int compared = 0;
    for (const QString& name : QDir(suite + "/g").entryList({"*.bmp"}, QDir::Files, QDir::Name)) {
        SCOPED_TRACE(name.toStdString());
        const QString path = suite + "/g/" + name;
        const QByteArray head = ReadBytes(path).left(16);
        ASSERT_GE(head.size(), 16);
        if (static_cast<std::uint8_t>(head[14]) < 40) {
            continue;
        }
        QImageReader decoder(path);
        const QSize size = decoder.read().size();
        ASSERT_TRUE(size.isValid()) << decoder.errorString().toStdString();
        bmpsize reader;
        reader.ReadImageInfo(path);
        EXPECT_EQ(reader.ImageType(), 4);
        EXPECT_EQ(reader.Width(), size.width());
        // A top-down file stores its height negated: it reads as 65536 minus the height.
        EXPECT_TRUE(reader.Height() == size.height() || reader.Height() == 65536 - size.height())
            << reader.Height() << " for " << size.height();
        const int depth = reader.Depth();
        EXPECT_TRUE(depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32) << depth;
        ++compared;
    }
    EXPECT_GT(compared, 20);
}

// Questionable, bad and related files: any values are allowed, only within their ranges.
TEST(BmpSizeFiles, BmpSuiteEveryFileStaysInRange) {
    const QString suite = BmpSuiteFolder();
    if (suite.isEmpty()) {
        GTEST_SKIP() << "BMP Suite folder not found";
    }
    int seen = 0;
    QDirIterator it(suite, {"*.bmp"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        SCOPED_TRACE(path.toStdString());
        bmpsize reader;
        ASSERT_NO_THROW(reader.ReadImageInfo(path));
        EXPECT_GE(reader.Width(), 0);
        EXPECT_LE(reader.Width(), 65535);
        EXPECT_GE(reader.Height(), 0);
        EXPECT_LE(reader.Height(), 65535);
        EXPECT_GE(reader.Depth(), 0);
        EXPECT_LE(reader.Depth(), 255);
        const bool bm = ReadBytes(path).startsWith("BM");
        EXPECT_EQ(reader.ImageType() == 4, bm);
        ++seen;
    }
    EXPECT_GT(seen, 80);
}
