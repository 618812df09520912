#include "tilvexprocess.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include <algorithm>

namespace {

TEST_F(Tilvex, HelpVersionAndUsageErrors) {
    struct Case {
        QStringList arguments;
        int status;
        const char* inOut;  // expected in stdout
        const char* inErr;  // expected in stderr
    };
    const Case cases[] = {
        {{"--version"}, 0, "tilvex 0.4", ""},
        {{"--help"}, 0, "Usage: tilvex COMMAND", ""},
        {{"split", "--help"}, 0, "Usage: tilvex split SOURCE DEST", ""},
        {{"compile", "--help"}, 0, "Usage: tilvex compile SOURCE DEST", ""},
        {{"info", "--help"}, 0, "Usage: tilvex info FILE", ""},
        {{}, 2, "", "no command given"},
        {{"cut", "a", "b"}, 2, "", "unknown command cut"},
        {{"split", "a.bmp"}, 2, "", "split needs SOURCE and DEST"},
        {{"split", "a.bmp", "b", "--bogus"}, 2, "", "unknown option --bogus"},
        {{"split", "a.bmp", "b", "--start"}, 2, "", "--start needs a value"},
        {{"split", "a.bmp", "b", "--width", "3"}, 2, "", "split takes no --width"},
        {{"info"}, 2, "", "info needs at least one FILE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const Result result = Run(c.arguments);
        EXPECT_EQ(result.status, c.status) << result.err.toStdString();
        EXPECT_TRUE(result.out.contains(QString::fromUtf8(c.inOut))) << result.out.toStdString();
        EXPECT_TRUE(result.err.contains(QString::fromUtf8(c.inErr))) << result.err.toStdString();
        if (c.status == 0) {
            EXPECT_TRUE(result.err.isEmpty());
        }
    }
}

TEST_F(Tilvex, SplitThenCompileWritesTheWindowsBytes) {
    const Result split = Run({"split", folder_.File("big.bmp"), folder_.File("cli"), "--start", "3"});
    ASSERT_EQ(split.status, 0) << split.err.toStdString();
    // 100 by 70 pixels hold six whole tiles (96 by 64 pixels); the rest is counted.
    EXPECT_EQ(split.out, "6 tiles written to " + folder_.File("cli") +
                             "/, next free number 9; 856 pixels at the right and bottom edges dropped "
                             "(--keep-edges keeps them)\n");
    RunWindow(true, folder_.File("big.bmp"), folder_.File("gui"), "3");
    const QStringList names = QDir(folder_.File("gui")).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(names.size(), 7);
    EXPECT_EQ(QDir(folder_.File("cli")).entryList(QDir::Files, QDir::Name), names);
    for (const QString& name : names) {
        EXPECT_EQ(ReadBytes(folder_.File("cli/" + name)), ReadBytes(folder_.File("gui/" + name))) << name.toStdString();
    }

    ASSERT_TRUE(QDir(folder_.Path()).mkdir("sheet-cli"));
    ASSERT_TRUE(QDir(folder_.Path()).mkdir("sheet-gui"));
    const Result compile =
        Run({"compile", folder_.File("cli"), folder_.File("sheet-cli"), "--start=3", "--width=2", "--quiet"});
    ASSERT_EQ(compile.status, 0) << compile.err.toStdString();
    EXPECT_TRUE(compile.out.isEmpty());
    RunWindow(false, folder_.File("gui"), folder_.File("sheet-gui"), "3", "2");
    const QByteArray sheet = ReadBytes(folder_.File("sheet-cli/Tiles.bmp"));
    EXPECT_FALSE(sheet.isEmpty());
    EXPECT_EQ(sheet, ReadBytes(folder_.File("sheet-gui/Tiles.bmp")));
    EXPECT_EQ(LogEntries(), 0);
}

// A sheet big enough to be read and drawn in several bands: still the window's bytes, with
// its numbering and its canvas of fractional width.
TEST_F(Tilvex, BandedRunsWriteTheWindowsBytes) {
    WritePatternBitmap(folder_.File("wide.bmp"), 4140, 1100);
    ASSERT_EQ(Run({"split", folder_.File("wide.bmp"), folder_.File("cli"), "-q"}).status, 0);
    RunWindow(true, folder_.File("wide.bmp"), folder_.File("gui"), "0");
    const QStringList names = QDir(folder_.File("gui")).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(names.size(), 129 * 34 + 1);
    ASSERT_EQ(QDir(folder_.File("cli")).entryList(QDir::Files, QDir::Name), names);
    for (const QString& name : names) {
        ASSERT_EQ(ReadBytes(folder_.File("cli/" + name)), ReadBytes(folder_.File("gui/" + name))) << name.toStdString();
    }
    struct Case {
        const char* start;
        const char* width;
    };
    for (const Case& c : {Case{"0.5", "128"}, Case{"7", "64.5"}, Case{"4000", "129"}}) {
        SCOPED_TRACE(std::string("start ") + c.start + ", width " + c.width);
        const QString cli = folder_.File(QStringLiteral("sheet-cli-%1-%2").arg(c.start, c.width));
        const QString gui = folder_.File(QStringLiteral("sheet-gui-%1-%2").arg(c.start, c.width));
        ASSERT_TRUE(QDir().mkpath(cli) && QDir().mkpath(gui));
        ASSERT_EQ(Run({"compile", folder_.File("cli"), cli, "--start", c.start, "--width", c.width, "-q"}).status, 0);
        RunWindow(false, folder_.File("gui"), gui, c.start, c.width);
        const QByteArray sheet = ReadBytes(cli + "/Tiles.bmp");
        EXPECT_GT(sheet.size(), 1 << 20);
        EXPECT_TRUE(sheet == ReadBytes(gui + "/Tiles.bmp"));
    }
    EXPECT_EQ(LogEntries(), 0);
}

// Numbers that pass 2147483647 part way: the window writes the tiles up to it and then fails
// with an overflow; into a folder that did not exist, the batch program leaves none.
TEST_F(Tilvex, TileNumbersThatOverflowFailAfterTheLastThatFits) {
    ASSERT_TRUE(QDir().mkpath(folder_.File("old")));
    RunWindow(true, folder_.File("big.bmp"), folder_.File("gui"), "2147483645");
    struct Case {
        const char* folder;
        QStringList files;  // what the folder holds afterwards
    };
    for (const Case& c : {Case{"old", QDir(folder_.File("gui")).entryList(QDir::Files, QDir::Name)}, Case{"new", {}}}) {
        SCOPED_TRACE(c.folder);
        const Result result = Run({"split", folder_.File("big.bmp"), folder_.File(c.folder), "--start", "2147483645"});
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(result.err.contains("error 6: Overflow")) << result.err.toStdString();
        EXPECT_EQ(QDir(folder_.File(c.folder)).entryList(QDir::Files | QDir::Hidden, QDir::Name), c.files);
    }
    EXPECT_EQ(QDir(folder_.File("gui")).entryList(QDir::Files, QDir::Name),
              (QStringList{"2147483645.bmp", "2147483646.bmp", "2147483647.bmp"}));
    EXPECT_FALSE(QFileInfo::exists(folder_.File("new")));
}

TEST_F(Tilvex, CompileTakesTheStartUpWidthAndReportsTheSheet) {
    ASSERT_EQ(Run({"split", folder_.File("big.bmp"), folder_.File("tiles"), "-q"}).status, 0);
    WriteBytes(folder_.File("info.ini"), "[MAIN]\r\nWidth=3\r\n");
    const Result compile = Run({"compile", folder_.File("tiles"), folder_.Path()});
    ASSERT_EQ(compile.status, 0) << compile.err.toStdString();
    // Six tiles at three to a row: 96 pixels wide, 6 / 3 * 34 + 128 high.
    EXPECT_EQ(compile.out, folder_.Path() + "/Tiles.bmp written, 96 by 196 pixels\n");
    EXPECT_EQ(QImage(folder_.File("Tiles.bmp")).size(), QSize(96, 196));
}

TEST_F(Tilvex, MessagesAndFailuresGoToStderrWithTheirStatus) {
    WriteBytes(folder_.File("text.bmp"), "no picture");
    ASSERT_TRUE(QDir(folder_.Path()).mkdir("empty"));
    struct Case {
        QStringList arguments;
        int status;
        QString inErr;
        int logEntries;
    };
    const Case cases[] = {
        {{"split", folder_.File("missing.bmp"), folder_.File("out")}, 2,
         "tilvex: " + folder_.File("missing.bmp") + ": no such file (Source path does not exist!)\n", 0},
        {{"split", folder_.File("big.BMP"), folder_.File("out")}, 2,
         "tilvex: " + folder_.File("big.BMP") + ": no such file (Source path does not exist!)\n", 0},
        {{"split", folder_.File("big.bmp"), ""}, 2, "tilvex: Destination path can not be blank!\n", 0},
        {{"compile", folder_.File("big.bmp"), folder_.File("out")}, 2,
         "tilvex: " + folder_.File("big.bmp") +
             ": is a file, not a folder of tiles (Source path should be a folder not an image.)\n",
         0},
        {{"split", folder_.File("text.bmp"), folder_.File("out")}, 1,
         "tilvex: " + folder_.File("text.bmp") + ": error 481: Invalid picture\n", 1},
        // No info.ini: the message ends the run.
        {{"compile", folder_.File("empty"), folder_.File("out")}, 2,
         "tilvex: " + folder_.File("empty") + ": holds no info.ini, the tile information file that split writes\n", 0},
    };
    int logged = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const Result result = Run(c.arguments);
        EXPECT_EQ(result.status, c.status);
        EXPECT_TRUE(result.err.contains(c.inErr)) << result.err.toStdString();
        EXPECT_TRUE(result.out.isEmpty()) << result.out.toStdString();
        logged += c.logEntries;
        EXPECT_EQ(LogEntries(), logged);
    }
}

TEST_F(Tilvex, ImageLayerFailuresNameTheTileAndAreLogged) {
    ASSERT_EQ(Run({"split", folder_.File("big.bmp"), folder_.File("tiles"), "-q"}).status, 0);
    ASSERT_TRUE(QFile::remove(folder_.File("tiles/2.bmp")));
    const Result result = Run({"compile", folder_.File("tiles"), folder_.Path(), "--width", "3"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "tilvex: " + folder_.File("tiles/2.bmp") +
                              ": error -2147467259: Automation error: unspecified failure (tile 2.bmp)\n");
    EXPECT_EQ(LogEntries(), 1);
    EXPECT_FALSE(QFileInfo::exists(folder_.File("Tiles.bmp")));
}

TEST_F(Tilvex, CompileWithNoWidthAnywhereWritesASheetSixTilesWide) {
    ASSERT_EQ(Run({"split", folder_.File("big.bmp"), folder_.File("tiles"), "-q"}).status, 0);
    ASSERT_FALSE(QFileInfo::exists(folder_.File("info.ini")));
    const Result compile = Run({"compile", folder_.File("tiles"), folder_.Path()});
    ASSERT_EQ(compile.status, 0) << compile.err.toStdString();
    // Six tiles at the settled six to a row: one full row, 6 / 6 * 34 + 128 high.
    EXPECT_EQ(compile.out, folder_.Path() + "/Tiles.bmp written, 192 by 162 pixels\n");
    const QImage sheet(folder_.File("Tiles.bmp"));
    ASSERT_EQ(sheet.size(), QSize(192, 162));
    const QImage big(folder_.File("big.bmp"));
    // Tiles 0-2 and 3-5 of the 100 by 70 picture's two rows side by side in the first row.
    EXPECT_EQ(sheet.copy(0, 0, 96, 32), big.copy(0, 0, 96, 32).convertToFormat(sheet.format()));
    EXPECT_EQ(sheet.copy(96, 0, 96, 32), big.copy(0, 32, 96, 32).convertToFormat(sheet.format()));
}

TEST_F(Tilvex, InfoReportsEveryFileItCanRead) {
    WriteBytes(folder_.File("unknown.dat"), "hello");
    const Result result = Run({"info", folder_.File("big.bmp"), folder_.File("missing.png"), folder_.File("unknown.dat")});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, folder_.File("big.bmp") + "\tBMP\t100\t70\t24\n");
    EXPECT_EQ(result.err, "tilvex: " + folder_.File("missing.png") + ": error 53: File not found\ntilvex: " +
                              folder_.File("unknown.dat") + ": error 481: Invalid picture\n");
}

// Headers of 32-bit sizes are reported whole; what is no picture goes to stderr.
TEST_F(Tilvex, InfoGivesTrueSizesAndRefusesWhatIsNoPicture) {
    auto le32 = [](quint32 v) { return QByteArray(reinterpret_cast<const char*>(&v), 4); };
    auto be32 = [&](quint32 v) {
        QByteArray bytes = le32(v);
        std::reverse(bytes.begin(), bytes.end());
        return bytes;
    };
    const QByteArray pngHead = QByteArray("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
    auto bmp = [&](quint32 width, quint32 height) {
        return "BM" + le32(0) + le32(0) + le32(54) + le32(40) + le32(width) + le32(height) + QByteArray("\x01\0\x18\0", 4) +
               QByteArray(24, '\0');
    };
    const struct {
        const char* name;
        QByteArray bytes;
        const char* line;  // on stdout; "" for none
    } cases[] = {
        {"wide.png", pngHead + be32(100000) + be32(100000) + QByteArray("\x08\x06\0\0\0", 5), "PNG\t100000\t100000\t32"},
        {"wide.bmp", bmp(70000, 3), "BMP\t70000\t3\t24"},
        {"topdown.bmp", bmp(5, static_cast<quint32>(-66000)), "BMP\t5\t66000\t24"},
        {"empty.png", QByteArray(), ""},
        {"map.tmx", "<?xml version=\"1.0\"?><map/>", ""},
    };
    for (const auto& c : cases) {
        WriteBytes(folder_.File(c.name), c.bytes);
        const Result result = Run({"info", folder_.File(c.name)});
        const QString line = QString::fromUtf8(c.line);
        EXPECT_EQ(result.status, line.isEmpty() ? 1 : 0) << c.name;
        EXPECT_EQ(result.out, line.isEmpty() ? QString() : folder_.File(c.name) + "\t" + line + "\n") << c.name;
        EXPECT_EQ(result.err.isEmpty(), !line.isEmpty()) << c.name;
    }
}

}  // namespace
