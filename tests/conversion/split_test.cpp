#include "conversion/converter.h"
#include "conversion/headlessform.h"
#include "imaging/bitmapfile.h"
#include "records/bmpsize.h"
#include "records/tileinfo.h"
#include "support/bitmapwriter.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QtEndian>

#include <sys/stat.h>

namespace {

using Box = FormView::Box;

// One Split click on a window without widgets, as the user would make it.
struct SplitRun {
    HeadlessForm form;
    Converter converter{form};
    MessageRecorder messages;

    void Click(const QString& source, const QString& destination, const QString& start = "0") {
        form.SelectSplit(true);
        form.SetText(Box::ipath, source);
        form.SetText(Box::spath, destination);
        form.SetText(Box::txtStart, start);
        converter.Command1_Click();
    }
};

int LogEntries(const TestFolder& folder) {
    return static_cast<int>(ReadBytes(folder.File("Errors.Log")).count("-------------------------------\r\n"));
}

QString LogText(const TestFolder& folder) { return QString::fromLocal8Bit(ReadBytes(folder.File("Errors.Log"))); }

QStringList FilesIn(const QString& folder) {
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    return names;
}

QImage ReadTile(const QString& path) {
    QImage tile(path);
    return tile.isNull() ? tile : AsRgb32(tile);
}

// Checks that tile number start + k holds block k of the picture, in row-major order.
void ExpectTiles(const QString& folder, const QImage& picture, int start) {
    const int across = picture.width() / 32;
    const int down = picture.height() / 32;
    for (int k = 0; k < across * down; ++k) {
        const QImage tile = ReadTile(folder + "/" + QString::number(start + k) + ".bmp");
        ASSERT_EQ(tile.size(), QSize(32, 32)) << "tile " << start + k;
        const QImage block = picture.copy((k % across) * 32, (k / across) * 32, 32, 32);
        ASSERT_EQ(tile, block) << "tile " << start + k;
    }
}

TEST(Split, CutsTilesInRowMajorOrderAtEveryDepthAndLayout) {
    const BitmapLayout layouts[] = {
        {1, false, false},  {4, false, false}, {8, false, false}, {8, true, false},  {16, false, false},
        {16, true, false},  {24, false, false}, {24, true, false}, {32, false, false}, {32, true, false},
        {8, false, true},
    };
    for (const BitmapLayout& layout : layouts) {
        SCOPED_TRACE(testing::Message() << layout.bitCount << " bits" << (layout.topDown ? " top-down" : "")
                                        << (layout.rle8 ? " RLE" : ""));
        TestFolder folder;
        const QImage pattern = PatternImage(100, 70, layout);
        WriteBytes(folder.File("big.bmp"), EncodeBitmap(pattern, layout));
        // The pattern says what each pixel is; the toolkit's reader agrees, apart from
        // widening 16-bit colours its own way.
        const QImage expected = AsRgb32(pattern);
        const QImage decoded = AsRgb32(QImageReader(folder.File("big.bmp")).read());
        ASSERT_FALSE(decoded.isNull());
        if (layout.bitCount != 16) {
            ASSERT_EQ(decoded, expected);
        }

        SplitRun run;
        run.Click(folder.File("big.bmp"), folder.File("out"));
        EXPECT_EQ(FilesIn(folder.File("out")),
                  (QStringList{"0.bmp", "1.bmp", "2.bmp", "3.bmp", "4.bmp", "5.bmp", "info.ini"}));
        ExpectTiles(folder.File("out"), expected, 0);
        EXPECT_EQ(GetVar(folder.File("out/info.ini"), "MAIN", "NumFiles"), "6");
        EXPECT_EQ(run.form.OuterHeight(), 2160);
        EXPECT_EQ(LogEntries(folder), 0) << LogText(folder).toStdString();
        // The header reader is still asked, and its values kept.
        ASSERT_NE(run.converter.ImageInfo(), nullptr);
        EXPECT_EQ(run.converter.ImageInfo()->Width(), 100);
        EXPECT_EQ(run.converter.ImageInfo()->ImageType(), bmpsize::Bmp);
    }
}

// The window runs on one thread: no helper writes its tiles, whatever the machine's cores.
TEST(Split, RunsOnTheWindowsOneThread) {
    struct CountingForm : HeadlessForm {
        std::size_t mostThreads = 0;
        void DoEvents() override {
            HeadlessForm::DoEvents();
            mostThreads = std::max<std::size_t>(mostThreads, QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
        }
    } form;
    TestFolder folder;
    WritePatternBitmap(folder.File("big.bmp"), 64, 64);
    const auto before = static_cast<std::size_t>(QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
    Converter converter(form);
    form.SelectSplit(true);
    form.SetText(Box::ipath, folder.File("big.bmp"));
    form.SetText(Box::spath, folder.File("out"));
    converter.Command1_Click();
    EXPECT_EQ(FilesIn(folder.File("out")).size(), 5);
    EXPECT_GT(form.mostThreads, 0u);
    EXPECT_LE(form.mostThreads, before);
}

TEST(Split, StartNumberNamesTheFilesAndNumFilesIsTheNextFreeOne) {
    struct Case {
        const char* start;
        int first;
        const char* numFiles;
    };
    const Case cases[] = {{"0", 0, "6"}, {"10", 10, "16"}, {"2.5", 2, "8"}, {"3.5", 4, "10"},
                          {"-3", -3, "3"}, {"abc", 0, "6"}, {" 1 2", 12, "18"}};
    const BitmapLayout layout;
    const QImage pattern = PatternImage(100, 70, layout);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        TestFolder folder;
        WriteBytes(folder.File("big.bmp"), EncodeBitmap(pattern, layout));
        SplitRun run;
        // No trailing separator: one is put between folder and name.
        run.Click(folder.File("big.bmp"), folder.File("out"), c.start);
        ExpectTiles(folder.File("out"), pattern, c.first);
        EXPECT_EQ(FilesIn(folder.File("out")).size(), 7);
        EXPECT_EQ(GetVar(folder.File("out/info.ini"), "MAIN", "NumFiles"), c.numFiles);
    }
}

TEST(Split, AddsToAFolderAndOverwritesOnlyItsOwnNumbers) {
    TestFolder folder;
    const QImage pattern = WritePatternBitmap(folder.File("big.bmp"), 64, 32);
    ASSERT_TRUE(QDir(folder.Path()).mkdir("out"));
    WriteBytes(folder.File("out/0.bmp"), "old");
    WriteBytes(folder.File("out/7.bmp"), "kept");
    WriteBytes(folder.File("out/info.ini"), "[MAIN]\r\nWidth=3\r\nNumFiles=99\r\n");
    SplitRun run;
    run.Click(folder.File("big.bmp"), folder.File("out") + "/");
    ExpectTiles(folder.File("out"), pattern, 0);
    EXPECT_EQ(ReadBytes(folder.File("out/7.bmp")), QByteArray("kept"));
    EXPECT_EQ(ReadBytes(folder.File("out/info.ini")), QByteArray("[MAIN]\r\nWidth=3\r\nNumFiles=2\r\n"));
}

TEST(Split, PathsWithBlanksAndNonAsciiNames) {
    for (const char* name : {"big sheet", "é", "タイル"}) {
        SCOPED_TRACE(name);
        TestFolder folder;
        const QString sub = folder.Path() + "/" + QString::fromUtf8(name);
        ASSERT_TRUE(QDir().mkpath(sub));
        const QImage pattern = WritePatternBitmap(sub + "/" + QString::fromUtf8(name) + ".bmp", 64, 64);
        SplitRun run;
        run.Click(sub + "/" + QString::fromUtf8(name) + ".bmp", sub + "/out " + QString::fromUtf8(name));
        ExpectTiles(sub + "/out " + QString::fromUtf8(name), pattern, 0);
        EXPECT_EQ(GetVar(sub + "/out " + QString::fromUtf8(name) + "//info.ini", "MAIN", "NumFiles"), "4");
    }
}

TEST(Split, ThePictureDecidesTheGridNotTheHeaderReader) {
    // A top-down bitmap's height reads as 65504 in the header reader; 2 rows of tiles it is.
    TestFolder folder;
    const QImage pattern = WritePatternBitmap(folder.File("big.bmp"), 64, 64, {24, true, false});
    SplitRun run;
    run.Click(folder.File("big.bmp"), folder.File("out"));
    EXPECT_EQ(run.converter.ImageInfo()->Height(), 65472);
    EXPECT_EQ(FilesIn(folder.File("out")).size(), 5);
    ExpectTiles(folder.File("out"), pattern, 0);
}

TEST(Split, APictureLowerThanATileGivesItsFirstRowOnTheBackground) {
    TestFolder folder;
    const QImage pattern = WritePatternBitmap(folder.File("big.bmp"), 70, 20);
    SplitRun run;
    // A tile of another run is left in the canvas first.
    run.form.Image(FormView::Pic::pic).SetSize(32, 32);
    run.form.Image(FormView::Pic::pic).Image().fill(Qt::red);
    run.Click(folder.File("big.bmp"), folder.File("out"));
    EXPECT_EQ(FilesIn(folder.File("out")), (QStringList{"0.bmp", "1.bmp", "info.ini"}));
    const QImage tile = ReadTile(folder.File("out/1.bmp"));
    EXPECT_EQ(tile.copy(0, 0, 32, 20), pattern.copy(32, 0, 32, 20));
    EXPECT_EQ(tile.pixel(5, 25), Picture::Background().rgb());
}

TEST(Split, InputMistakesAreMessagesAndWriteNothing) {
    TestFolder folder;
    SplitRun run;
    run.Click(folder.File("missing.bmp"), folder.File("out"));
    EXPECT_EQ(run.messages.Messages(), QStringList{"Source path does not exist!"});
    EXPECT_EQ(run.form.OuterHeight(), 2400);
    EXPECT_EQ(LogEntries(folder), 0);
    EXPECT_TRUE(FilesIn(folder.File("out")).isEmpty());
    EXPECT_TRUE(run.form.ButtonEnabled());
    EXPECT_EQ(run.form.ButtonCaption(), "Convert");
}

// A failure during the run: one log entry, no tile, no info.ini, the button back.
TEST(Split, FailuresEndInOneLogEntryAndNoHalfWrittenFile) {
    const BitmapLayout layout;
    const QByteArray good = EncodeBitmap(PatternImage(64, 64, layout), layout);
    QByteArray claims60000 = good;
    qToLittleEndian<qint32>(60000, claims60000.data() + 18);
    qToLittleEndian<qint32>(60000, claims60000.data() + 22);
    // 154 bytes that claim 5000 by 5000 pixels of run-length data.
    QByteArray tinyHuge = EncodeBitmap(PatternImage(8, 8, {8, false, true}), {8, false, true}).left(154);
    qToLittleEndian<qint32>(5000, tinyHuge.data() + 18);
    qToLittleEndian<qint32>(5000, tinyHuge.data() + 22);
    ASSERT_EQ(tinyHuge.size(), 154);

    struct Case {
        const char* name;
        QByteArray source;
        const char* destination;  // below the test folder
        int error;
    };
    const Case cases[] = {
        {"no picture", "this is text, not a picture", "out", 481},
        {"truncated", good.left(good.size() / 2), "out", 481},
        {"claims 60000 by 60000", claims60000, "out", 481},
        {"154 bytes claiming 5000 by 5000", tinyHuge, "out", 481},
        {"destination parent missing", good, "missing/out", 76},
        {"destination is a file", good, "file", 76},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestFolder folder;
        WriteBytes(folder.File("big.bmp"), c.source);
        WriteBytes(folder.File("file"), "x");
        SplitRun run;
        run.Click(folder.File("big.bmp"), folder.File(c.destination));
        EXPECT_EQ(LogEntries(folder), 1) << LogText(folder).toStdString();
        EXPECT_TRUE(LogText(folder).contains(QStringLiteral("\r\nFile: frmConverter\r\nProcedure: Convert\r\nError #%1\r\n")
                                                 .arg(c.error)))
            << LogText(folder).toStdString();
        EXPECT_TRUE(run.messages.Messages().isEmpty());
        EXPECT_FALSE(QFileInfo::exists(folder.File("out/0.bmp")));
        EXPECT_FALSE(QFileInfo::exists(folder.File("out/info.ini")));
        EXPECT_TRUE(run.form.ButtonEnabled());
        EXPECT_EQ(run.form.ButtonCaption(), "Convert");
        EXPECT_EQ(run.form.OuterHeight(), 2400);
    }
}

TEST(Split, AReadOnlyTileStopsTheRunAndStaysAsItWas) {
    TestFolder folder;
    const QImage pattern = WritePatternBitmap(folder.File("big.bmp"), 96, 32);
    ASSERT_TRUE(QDir(folder.Path()).mkdir("out"));
    WriteBytes(folder.File("out/1.bmp"), "locked");
    ASSERT_EQ(::chmod(QFile::encodeName(folder.File("out/1.bmp")).constData(), 0444), 0);
    SplitRun run;
    run.Click(folder.File("big.bmp"), folder.File("out"));
    EXPECT_EQ(LogEntries(folder), 1);
    EXPECT_TRUE(LogText(folder).contains("Error #70\r\n"));
    EXPECT_EQ(ReadBytes(folder.File("out/1.bmp")), QByteArray("locked"));
    EXPECT_EQ(ReadTile(folder.File("out/0.bmp")), pattern.copy(0, 0, 32, 32));
    EXPECT_EQ(FilesIn(folder.File("out")), (QStringList{"0.bmp", "1.bmp"}));
}

TEST(Split, TileNumbersDoNotWrapPastTheLargestNumber) {
    TestFolder folder;
    WritePatternBitmap(folder.File("big.bmp"), 64, 32);
    SplitRun run;
    run.Click(folder.File("big.bmp"), folder.File("out"), "2147483647");
    EXPECT_EQ(FilesIn(folder.File("out")), QStringList{"2147483647.bmp"});
    EXPECT_EQ(LogEntries(folder), 1);
    EXPECT_TRUE(LogText(folder).contains("Error #6\r\nDescription: Overflow\r\n"));

    TestFolder again;
    WritePatternBitmap(again.File("big.bmp"), 64, 32);
    SplitRun tooBig;
    tooBig.Click(again.File("big.bmp"), again.File("out"), "2147483648");
    EXPECT_TRUE(FilesIn(again.File("out")).isEmpty());
    EXPECT_TRUE(LogText(again).contains("Error #6\r\n"));
}

}  // namespace

namespace {

QStringList SuiteFiles(const QString& group) {
    const QString root = BmpSuiteFolder();
    if (root.isEmpty()) {
        return {};
    }
    QStringList files;
    for (const QString& name : QDir(root + "/" + group).entryList({"*.bmp"}, QDir::Files, QDir::Name)) {
        files.append(root + "/" + group + "/" + name);
    }
    return files;
}

TEST(SplitBmpSuite, GoodFilesGiveTilesEqualToTheLoadersDecoding) {
    const QStringList files = SuiteFiles("g");
    if (files.isEmpty()) {
        GTEST_SKIP() << "BMP Suite folder not found beside the project";
    }
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        TestFolder folder;
        const QImage decoded = AsRgb32(LoadBitmapFile(file));
        // A second opinion: the toolkit's reader, which widens channels of fewer than eight
        // bits its own way.
        const QImage reference = AsRgb32(QImageReader(file).read());
        ASSERT_EQ(decoded.size(), reference.size());
        for (int y = 0; y < decoded.height(); ++y) {
            for (int x = 0; x < decoded.width(); ++x) {
                const QRgb a = decoded.pixel(x, y);
                const QRgb b = reference.pixel(x, y);
                ASSERT_LE(std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b)), 24)
                    << x << "," << y;
            }
        }
        SplitRun run;
        // The suite's names end in ".bmp"; copy so the run reads from a folder of our own.
        ASSERT_TRUE(QFile::copy(file, folder.File("in.bmp")));
        run.Click(folder.File("in.bmp"), folder.File("out"));
        EXPECT_EQ(LogEntries(folder), 0) << LogText(folder).toStdString();
        ExpectTiles(folder.File("out"), decoded, 0);
    }
}

TEST(SplitBmpSuite, BadAndQuestionableFilesEndCleanly) {
    QStringList files = SuiteFiles("b") + SuiteFiles("q");
    if (files.isEmpty()) {
        GTEST_SKIP() << "BMP Suite folder not found beside the project";
    }
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        TestFolder folder;
        ASSERT_TRUE(QFile::copy(file, folder.File("in.bmp")));
        SplitRun run;
        run.Click(folder.File("in.bmp"), folder.File("out"));
        const bool finished = QFileInfo::exists(folder.File("out/info.ini")) && LogEntries(folder) == 0;
        const bool failed = !QFileInfo::exists(folder.File("out/info.ini")) && LogEntries(folder) == 1;
        EXPECT_TRUE(finished || failed) << LogText(folder).toStdString();
        EXPECT_TRUE(run.form.ButtonEnabled());
        if (finished) {
            // Whatever the loader made of it, every tile is a whole 32 by 32 bitmap.
            for (const QString& name : FilesIn(folder.File("out"))) {
                if (name.endsWith(".bmp")) {
                    EXPECT_EQ(ReadTile(folder.File("out/" + name)).size(), QSize(32, 32)) << name.toStdString();
                }
            }
        }
    }
}

}  // namespace
