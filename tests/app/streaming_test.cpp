#include "support/testsupport.h"
#include "tilvexrun.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>

#include <QFileInfo>
#include <QProcess>

#include <cstring>
#include <map>

namespace {

// Runs the batch program under GNU time and gives its exit status and its own peak memory
// in KiB (-1 without GNU time). The program is not measured from this process: a child
// started here inherits this process's high-water mark.
std::pair<int, long> RunMeasured(const TestFolder& folder, const QString& program, const QStringList& arguments) {
    if (!QFileInfo(QStringLiteral("/usr/bin/time")).isExecutable()) {
        return {-1, -1};
    }
    QProcess process;
    const QString log = folder.File("time.log");
    process.start(QStringLiteral("/usr/bin/time"), QStringList{"-f", "%M", "-o", log, program} + arguments);
    process.waitForFinished(600000);
    QFile file(log);
    const long kib = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().split('\n').last().toLong() : -1;
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, kib};
}

// The first pixel where two pictures differ, as text; empty when they are equal.
QString FirstDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) {
        return QStringLiteral("%1x%2 against %3x%4").arg(a.width()).arg(a.height()).arg(b.width()).arg(b.height());
    }
    if (a == b) {
        return {};
    }
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width() && std::memcmp(a.constScanLine(y), b.constScanLine(y), a.width() * 4u) != 0; ++x) {
            if (a.pixel(x, y) != b.pixel(x, y)) {
                return QStringLiteral("at %1,%2: %3 against %4").arg(x).arg(y).arg(a.pixel(x, y), 8, 16).arg(b.pixel(x, y), 8, 16);
            }
        }
    }
    return {};
}

QImage Read(const QString& path) {
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    return reader.read().convertToFormat(QImage::Format_RGBA8888);
}

// A sheet no two of whose neighbouring tiles are alike, opaque.
QImage Sheet(int width, int height) {
    QImage sheet(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        uchar* row = sheet.scanLine(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<uchar>(x * 7 + y);
            row[3 * x + 1] = static_cast<uchar>((x / 32) * 13 + (y / 32) * 29);
            row[3 * x + 2] = static_cast<uchar>(y * 3 ^ x);
        }
    }
    return sheet;
}

// Every file of a folder, hidden ones too, with its bytes.
std::map<QString, QByteArray> Contents(const QString& folder) {
    std::map<QString, QByteArray> files;
    for (const QString& name : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        QFile file(folder + "/" + name);
        files[name] = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(folder)");
    }
    return files;
}

class Streaming : public ::testing::Test {
protected:
    TestFolder folder_;
    TilvexProgram program_{folder_};
};

// A sheet bigger than the memory bound (about twice what the program needs to start): only
// a run that holds a band of it at a time stays below.
TEST_F(Streaming, BigSheetSplitsAndCompilesBackInBoundedMemory) {
    if (!QFileInfo(QStringLiteral("/usr/bin/time")).isExecutable()) {
        GTEST_SKIP() << "GNU time (/usr/bin/time) is not installed: no peak memory to check";
    }
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's own memory hides the program's peak";
#endif
    const QImage source = Sheet(4096, 6016);
    const long sheetKib = 4096L * 6016 * 3 / 1024;
    struct Case {
        const char* name;
        const char* format;
    };
    for (const Case& c : {Case{"sheet.bmp", "bmp"}, Case{"sheet.png", "png"}}) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(source.save(folder_.File(c.name), c.format == QByteArray("bmp") ? "BMP" : "PNG"));
        const QString tiles = folder_.File(QStringLiteral("tiles-%1").arg(c.format));
        const auto [split, splitKib] =
            RunMeasured(folder_, program_.Path(), {"split", folder_.File(c.name), tiles, "--tile", "32", "--format", c.format, "-q"});
        ASSERT_EQ(split, 0);
        EXPECT_LT(splitKib, sheetKib) << "split peak KiB";
        const QString out = folder_.File(QStringLiteral("out-%1").arg(c.format));
        ASSERT_TRUE(QDir().mkpath(out));
        const auto [compile, compileKib] = RunMeasured(
            folder_, program_.Path(), {"compile", tiles, out, "--width", "128", "--exact", "--format", c.format, "-q"});
        ASSERT_EQ(compile, 0);
        EXPECT_LT(compileKib, sheetKib) << "compile peak KiB";
        EXPECT_EQ(FirstDifference(Read(out + "/Tiles." + c.format), source.convertToFormat(QImage::Format_RGBA8888)), "");
    }
    // Without tile options too, the window's way: its sheet is taller than the tiles' rows.
    const auto [split, splitKib] = RunMeasured(folder_, program_.Path(), {"split", folder_.File("sheet.bmp"), folder_.File("plain"), "-q"});
    ASSERT_EQ(split, 0);
    EXPECT_LT(splitKib, sheetKib) << "plain split peak KiB";
    const auto [compile, compileKib] =
        RunMeasured(folder_, program_.Path(), {"compile", folder_.File("plain"), folder_.Path(), "--width", "128", "-q"});
    ASSERT_EQ(compile, 0);
    EXPECT_LT(compileKib, sheetKib) << "plain compile peak KiB";
    EXPECT_EQ(FirstDifference(Read(folder_.File("Tiles.bmp")).copy(0, 0, 4096, 6016), source.convertToFormat(QImage::Format_RGBA8888)), "");
}

// A picture found broken part way into a folder of earlier tiles changes nothing there, and
// a folder that did not exist is not made.
TEST_F(Streaming, BrokenPictureChangesNoTile) {
    struct Case {
        const char* format;
        bool folderExists;
    };
    for (const Case& c : {Case{"png", true}, Case{"bmp", true}, Case{"png", false}}) {
        SCOPED_TRACE(std::string(c.format) + (c.folderExists ? " into earlier tiles" : " into a new folder"));
        const QString tiles = folder_.File(QStringLiteral("tiles-%1-%2").arg(c.format).arg(c.folderExists));
        const QString earlier = folder_.File(QStringLiteral("earlier.%1").arg(c.format));
        ASSERT_TRUE(Sheet(256, 256).mirrored(true, false).save(earlier, c.format == QByteArray("bmp") ? "BMP" : "PNG"));
        if (c.folderExists) {
            ASSERT_EQ(program_.Run({"split", earlier, tiles, "--tile", "32", "--format", c.format}).status, 0);
        }
        const std::map<QString, QByteArray> before = Contents(tiles);

        const QString cut = folder_.File(QStringLiteral("cut.%1").arg(c.format));
        ASSERT_TRUE(Sheet(1024, 1024).save(cut, c.format == QByteArray("bmp") ? "BMP" : "PNG"));
        QFile file(cut);
        ASSERT_TRUE(file.resize(file.size() * 3 / 5));
        const TilvexResult run = program_.Run({"split", cut, tiles, "--tile", "32", "--format", c.format});
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.err.contains("Invalid picture")) << run.err.toStdString();
        EXPECT_TRUE(Contents(tiles) == before) << "the tile folder changed";
        // The program's own folder gets its error log, and nothing hidden.
        EXPECT_TRUE(QDir(folder_.Path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).filter(QRegularExpression("^\\.")).isEmpty());
    }
}

// What stops a run after its tiles were made (a tile that may not be replaced) changes no
// tile and leaves no hidden folder; a dead run's hidden folder, beside a new destination or
// inside an existing one, is gone after the next run.
TEST_F(Streaming, StagedTilesLeaveNothingBehind) {
    const QString sheet = folder_.File("sheet.png");
    ASSERT_TRUE(Sheet(128, 64).save(sheet, "PNG"));
    const QStringList grid = {"--tile", "32", "--format", "png", "-q"};
    const auto hidden = [](const QString& folder) {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).filter(QRegularExpression("^\\."));
    };
    const QString tiles = folder_.File("tiles");
    ASSERT_EQ(program_.Run(QStringList{"split", sheet, tiles} + grid).status, 0);
    ASSERT_TRUE(QFile::setPermissions(tiles + "/3.png", QFile::ReadOwner));
    const std::map<QString, QByteArray> before = Contents(tiles);
    const TilvexResult refused = program_.Run(QStringList{"split", folder_.File("sheet.png"), tiles, "--start", "2"} + grid);
    EXPECT_EQ(refused.status, 1);
    // The tile that may not be replaced leads the message, not the sheet.
    EXPECT_EQ(refused.err, "tilvex: " + tiles + "/3.png: error 70: Permission denied; nothing was changed\n")
        << refused.err.toStdString();
    EXPECT_TRUE(Contents(tiles) == before) << "the tile folder changed";
    ASSERT_TRUE(QFile::setPermissions(tiles + "/3.png", QFile::ReadOwner | QFile::WriteOwner));

    // Process 2^22 + 1 is above any process id the system gives out: never alive.
    const QString dead = QStringLiteral(".tilvex-4194305-stage1.tmp");
    for (const QString& at : {folder_.Path(), tiles}) {
        SCOPED_TRACE(at.toStdString());
        ASSERT_TRUE(QDir(at).mkpath(dead));
        WriteBytes(at + "/" + dead + "/0.png", "half a tile");
        const QString destination = at == tiles ? tiles : folder_.File("new");
        ASSERT_EQ(program_.Run(QStringList{"split", sheet, destination} + grid).status, 0);
        EXPECT_TRUE(hidden(at).isEmpty()) << hidden(at).join(' ').toStdString();
        EXPECT_EQ(QDir(destination).entryList(QDir::Files).size(), 9);
    }
}

}  // namespace
