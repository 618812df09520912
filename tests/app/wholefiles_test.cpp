// The batch program when runs are killed, starved or run side by side: every file is the old
// one or the whole new one, and every outcome is reported as it happened.
#include "tilvexprocess.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <functional>

namespace {

// Hidden files in a folder: what an interrupted writer would leave.
QStringList HiddenFiles(const QString& folder) {
    QStringList hidden;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        if (name.startsWith('.')) {
            hidden += name;
        }
    }
    return hidden;
}

// A bitmap whose pixels are one colour in 8-bit run-length rows: a few MB of file that asks
// for width x height x 4 bytes of memory once decoded.
QByteArray Rle8Bitmap(int width, int height) {
    QByteArray row;
    for (int left = width; left > 0; left -= 255) {
        row += char(std::min(left, 255));
        row += char(1);
    }
    row += QByteArray("\0\0", 2);
    QByteArray data = row.repeated(height) + QByteArray("\0\1", 2);
    QByteArray header(54 + 8, '\0');
    auto put32 = [&](int at, quint32 v) {
        for (int i = 0; i < 4; ++i) {
            header[at + i] = char(v >> (8 * i));
        }
    };
    header[0] = 'B';
    header[1] = 'M';
    put32(2, quint32(header.size() + data.size()));
    put32(10, quint32(header.size()));
    put32(14, 40);
    put32(18, quint32(width));
    put32(22, quint32(height));
    put32(26, 1 | (8 << 16));  // one plane, 8 bits
    put32(30, 1);              // RLE8
    put32(46, 2);              // two palette entries: black and white
    put32(58, 0xFFFFFF);
    return header + data;
}

class WholeFiles : public Tilvex {
protected:
    // Tiles of a 2048 x 256 sheet: a compile of them 64 to a row is a sheet of several blocks.
    QString ManyTiles() {
        WritePatternBitmap(folder_.File("wide.bmp"), 2048, 256);
        EXPECT_EQ(Run({"split", folder_.File("wide.bmp"), folder_.File("many"), "-q"}).status, 0);
        return folder_.File("many");
    }
};

// A run killed at one of its writes leaves whole tiles and an old or whole sheet, and no litter.
TEST_F(WholeFiles, KilledRunsLeaveOldOrWholeFiles) {
    const QString strace = QStandardPaths::findExecutable("strace");
    if (strace.isEmpty()) {
        GTEST_SKIP() << "strace is not installed";
    }
    // The leak checker of a sanitizer build cannot run under a tracer.
    const QStringList traced{"env", "ASAN_OPTIONS=detect_leaks=0", strace, "-f"};
    // The count, from the start, of the first writev of a bitmap: other writes vary by build.
    auto firstBitmapWrite = [&](const QStringList& arguments) {
        const QString trace = folder_.File("trace");
        EXPECT_EQ(RunWrapped(traced + QStringList{"-o", trace, "-e", "trace=writev"}, arguments).status, 0);
        int writes = 0;
        for (const QByteArray& line : ReadBytes(trace).split('\n')) {
            if (!line.contains(" writev(")) {
                continue;
            }
            ++writes;
            if (line.contains("=\"BM")) {
                return writes;
            }
        }
        return -1;
    };
    auto killedAt = [&](const char* call, int n, const QStringList& arguments) {
        return RunWrapped(traced + QStringList{"-o", "/dev/null", "-e", QStringLiteral("trace=%1").arg(call), "-e",
                                               QStringLiteral("inject=%1:signal=KILL:when=%2").arg(call).arg(n)},
                          arguments);
    };
    // Into a folder that exists, killed as the fourth tile is to take its name, while later
    // tiles may be written already.
    const QStringList split{"split", folder_.File("big.bmp"), folder_.File("out"), "-q"};
    ASSERT_TRUE(QDir().mkpath(folder_.File("out")));
    EXPECT_EQ(killedAt("linkat", 4, split).status, -1);
    const QStringList tiles = QDir(folder_.File("out")).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(tiles, (QStringList{"0.bmp", "1.bmp", "2.bmp"}));
    for (const QString& name : tiles) {
        EXPECT_EQ(QFileInfo(folder_.File("out/" + name)).size(), 54 + 32 * 32 * 3) << name.toStdString();
    }
    // Killed at the fourth tile's write.
    ASSERT_TRUE(QDir(folder_.File("out")).removeRecursively());
    ASSERT_TRUE(QDir().mkpath(folder_.File("out")));
    const int firstTile = firstBitmapWrite(split);
    ASSERT_GT(firstTile, 0);
    ASSERT_TRUE(QDir(folder_.File("out")).removeRecursively());
    ASSERT_TRUE(QDir().mkpath(folder_.File("out")));
    EXPECT_EQ(killedAt("writev", firstTile + 3, split).status, -1);
    for (const QString& name : QDir(folder_.File("out")).entryList(QDir::Files | QDir::Hidden)) {
        EXPECT_TRUE(name == "0.bmp" || name == "1.bmp" || name == "2.bmp") << name.toStdString();
        EXPECT_EQ(QFileInfo(folder_.File("out/" + name)).size(), 54 + 32 * 32 * 3) << name.toStdString();
    }
    // Into a new folder, killed at a tile's write: no folder appears, and the next run
    // clears away what the killed one hid.
    const QStringList fresh{"split", folder_.File("big.bmp"), folder_.File("new"), "-q"};
    EXPECT_EQ(killedAt("writev", firstTile + 3, fresh).status, -1);
    EXPECT_FALSE(QFileInfo::exists(folder_.File("new")));
    EXPECT_EQ(Run(fresh).status, 0);
    EXPECT_EQ(HiddenFiles(folder_.Path()), QStringList());
    EXPECT_EQ(QDir(folder_.Path()).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot).filter(QRegularExpression("^\\.")),
              QStringList());
    EXPECT_TRUE(QFileInfo::exists(folder_.File("new/info.ini")));

    // Killed as the sheet's first rows go out.
    const QString many = ManyTiles();
    const QStringList compile{"compile", many, folder_.File("sheet"), "--width", "64", "-q"};
    ASSERT_TRUE(QDir().mkpath(folder_.File("sheet")));
    const int sheetStart = firstBitmapWrite(compile) + 1;
    ASSERT_GT(sheetStart, 0);
    ASSERT_TRUE(QFile::remove(folder_.File("sheet/Tiles.bmp")));
    EXPECT_EQ(killedAt("writev", sheetStart, compile).status, -1);
    EXPECT_TRUE(QDir(folder_.File("sheet")).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    WriteBytes(folder_.File("sheet/Tiles.bmp"), "the old sheet");
    EXPECT_EQ(killedAt("writev", sheetStart, compile).status, -1);
    EXPECT_EQ(ReadBytes(folder_.File("sheet/Tiles.bmp")), "the old sheet");
    EXPECT_EQ(HiddenFiles(folder_.File("sheet")), QStringList());
    EXPECT_EQ(LogEntries(), 0);
}

// Runs that write the same names at once each put a whole file in place and succeed.
TEST_F(WholeFiles, ConcurrentRunsReplaceWholeFiles) {
    const QString many = ManyTiles();
    ASSERT_EQ(Run({"split", folder_.File("big.bmp"), folder_.File("few"), "-q"}).status, 0);
    QByteArray sheets[2];
    const QString sources[2] = {many, folder_.File("few")};
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(Run({"compile", sources[i], folder_.Path(), "--width", "64", "-q"}).status, 0);
        sheets[i] = ReadBytes(folder_.File("Tiles.bmp"));
    }
    for (int round = 0; round < 3; ++round) {
        QProcess runs[2];
        for (int i = 0; i < 2; ++i) {
            runs[i].start(program_, {"compile", sources[i], folder_.Path(), "--width", "64", "-q"});
        }
        QProcess splits[2];
        for (QProcess& split : splits) {
            split.start(program_, {"split", folder_.File("wide.bmp"), folder_.File("both"), "-q"});
        }
        for (QProcess* run : {&runs[0], &runs[1], &splits[0], &splits[1]}) {
            ASSERT_TRUE(run->waitForFinished(120000));
            EXPECT_EQ(run->exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(run->exitCode(), 0) << run->readAllStandardError().toStdString();
        }
        const QByteArray sheet = ReadBytes(folder_.File("Tiles.bmp"));
        EXPECT_TRUE(sheet == sheets[0] || sheet == sheets[1]) << "round " << round;
    }
    EXPECT_EQ(HiddenFiles(folder_.Path()), QStringList());
    EXPECT_EQ(HiddenFiles(folder_.File("both")), QStringList());
    EXPECT_EQ(LogEntries(), 0);
}

// What runs that were killed left is removed by the next run; a living writer's file stays.
TEST_F(WholeFiles, LeftoversOfEndedRunsAreRemoved) {
    QProcess ended;
    ended.start("true", {});
    ASSERT_TRUE(ended.waitForFinished());
    const qint64 gone = ended.processId() > 0 ? ended.processId() : 4194304;
    ASSERT_EQ(Run({"split", folder_.File("big.bmp"), folder_.File("out"), "-q"}).status, 0);
    const QString dead = QStringLiteral(".tilvex-%1-1.tmp").arg(gone);
    const QString alive = QStringLiteral(".tilvex-%1-1.tmp").arg(::getpid());
    for (const QString& name : {dead, alive, QStringLiteral("Tiles.bmp.tilvex-tmp")}) {
        WriteBytes(folder_.File("out/" + name), "litter");
    }
    const timeval hourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimes(QFile::encodeName(folder_.File("out/Tiles.bmp.tilvex-tmp")).constData(), hourAgo), 0);
    ASSERT_EQ(Run({"compile", folder_.File("out"), folder_.File("out"), "--width", "3", "-q"}).status, 0);
    EXPECT_EQ(HiddenFiles(folder_.File("out")), QStringList{alive});
    EXPECT_FALSE(QFileInfo::exists(folder_.File("out/Tiles.bmp.tilvex-tmp")));
}

// A source that lies in the destination under one of the new tiles' names is refused before
// anything is written; one under another name is split as usual.
TEST_F(WholeFiles, SourceAmongItsOwnTilesIsRefused) {
    struct Case {
        const char* name;
        const char* start;
        int status;
        int tiles;  // .bmp files in the folder afterwards
    };
    const Case cases[] = {{"0.bmp", "0", 1, 1}, {"8.bmp", "3", 1, 1}, {"9.bmp", "3", 0, 7}, {"x.bmp", "0", 0, 7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString same = folder_.File(QStringLiteral("same-%1-%2").arg(c.name, c.start));
        ASSERT_TRUE(QDir().mkpath(same));
        const QByteArray sheet = ReadBytes(folder_.File("big.bmp"));
        WriteBytes(same + "/" + c.name, sheet);
        const int logged = LogEntries();
        // The destination named another way: a link to the same folder.
        ASSERT_TRUE(QFile::link(same, same + "-link"));
        const Result result = Run({"split", same + "/" + c.name, same + "-link", "--start", c.start, "-q"});
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(ReadBytes(same + "/" + c.name), sheet);
        EXPECT_EQ(QDir(same).entryList({"*.bmp"}, QDir::Files).size(), c.tiles);
        if (c.status != 0) {
            EXPECT_TRUE(result.err.startsWith("tilvex: " + same + "/" + c.name + ": error 75: Path/File access error"))
                << result.err.toStdString();
            EXPECT_EQ(LogEntries(), logged + 1);
        }
    }
}

// A source that shrinks while it is read is a failure of the run, never a crash.
TEST_F(WholeFiles, SourceThatShrinksWhileReadIsNoCrash) {
    WritePatternBitmap(folder_.File("sheet.bmp"), 4096, 4096);
    const QByteArray sheet = ReadBytes(folder_.File("sheet.bmp"));
    // A run that read the sheet before it shrank writes 16,384 tiles: in memory, that is quick.
    // The sheet is read a band at a time, so a cut part way is met part way.
    const QTemporaryDir out(QDir("/dev/shm").exists() ? "/dev/shm/tilvex-XXXXXX" : folder_.File("out-XXXXXX"));
    for (int attempt = 0; attempt < 3; ++attempt) {
        WriteBytes(folder_.File("t.bmp"), sheet);
        QProcess run;
        run.start(program_, {"split", folder_.File("t.bmp"), out.path(), "-q"});
        ASSERT_TRUE(run.waitForStarted());
        // Cut short once the run is well into the sheet: its later rows are still to be read.
        const QString later = out.path() + QStringLiteral("/%1.bmp").arg(2000 + attempt * 4000);
        for (int i = 0; i < 20000 && run.state() == QProcess::Running && !QFileInfo::exists(later); ++i) {
            QThread::usleep(100);
        }
        ASSERT_EQ(::truncate(QFile::encodeName(folder_.File("t.bmp")).constData(), 1000), 0);
        ASSERT_TRUE(run.waitForFinished(120000));
        EXPECT_EQ(run.exitStatus(), QProcess::NormalExit) << "attempt " << attempt;
        EXPECT_TRUE(run.exitCode() == 0 || run.readAllStandardError().contains("error 481")) << "attempt " << attempt;
    }
}

// A file size limit is a full disk: reported, logged, and no sheet left; for a big PNG too,
// whose parts are written by the helpers that compress them.
TEST_F(WholeFiles, FileSizeLimitIsDiskFull) {
    ASSERT_EQ(Run({"split", folder_.File("big.bmp"), folder_.File("tiles"), "-q"}).status, 0);
    QImage noise(1024, 1024, QImage::Format_RGBA8888);
    for (int y = 0; y < noise.height(); ++y) {
        for (int x = 0; x < 4 * noise.width(); ++x) {
            noise.scanLine(y)[x] = static_cast<uchar>((x * 7919 + y * 104729) >> 3);
        }
    }
    ASSERT_TRUE(noise.save(folder_.File("noise.png")));
    const struct {
        QStringList arguments;
        QString written;
    } cases[] = {
        {{"compile", folder_.File("tiles"), folder_.File("tiles"), "--width", "30"}, folder_.File("tiles/Tiles.bmp")},
        {{"extrude", folder_.File("noise.png"), folder_.File("out.png"), "--tile", "16"}, folder_.File("out.png")},
    };
    int logged = 0;
    for (const auto& c : cases) {
        const Result result = RunWrapped({"sh", "-c", "ulimit -f 40; exec \"$0\" \"$@\""}, c.arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(result.err.startsWith("tilvex: " + c.written + ": error 61: Disk full")) << result.err.toStdString();
        EXPECT_EQ(LogEntries(), ++logged);
        EXPECT_FALSE(QFileInfo::exists(c.written));
    }
}

// Memory that runs out is "Out of memory", wherever it runs out; a file refused for its header
// costs no more memory than a small one.
TEST_F(WholeFiles, MemoryThatRunsOutIsOutOfMemory) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#endif
    WriteBytes(folder_.File("huge.bmp"), Rle8Bitmap(16384, 16384));
    QFile hole(folder_.File("hole.bmp"));
    ASSERT_TRUE(hole.open(QIODevice::WriteOnly));
    hole.write("BMgarbage");
    ASSERT_TRUE(hole.resize(qint64{2} << 30));
    hole.close();
    ASSERT_TRUE(QDir().mkpath(folder_.File("tiles")));
    WriteBytes(folder_.File("tiles/info.ini"), "[MAIN]\r\nNumFiles=2\r\n");
    const QByteArray tile = Rle8Bitmap(8000, 8000);
    WriteBytes(folder_.File("tiles/0.bmp"), tile);
    WriteBytes(folder_.File("tiles/1.bmp"), tile);
    struct Case {
        QStringList arguments;
        QString error;
    };
    WriteBytes(folder_.File("layered.tmx"), R"(<map orientation="orthogonal" width="1" height="1" tilewidth="32" tileheight="32">
 <imagelayer id="1" name="huge"><image source="huge.bmp"/></imagelayer></map>)");
    const Case cases[] = {
        {{"split", folder_.File("huge.bmp"), folder_.File("out")}, folder_.File("huge.bmp") + ": error 7: Out of memory"},
        {{"compile", "--map", folder_.File("layered.tmx"), folder_.File("layered.png")}, folder_.File("huge.bmp") + ": error 7: Out of memory"},
        {{"compile", folder_.File("tiles"), folder_.Path(), "--width", "2"}, "error 7: Out of memory"},
        {{"split", folder_.File("hole.bmp"), folder_.File("out")}, folder_.File("hole.bmp") + ": error 481: Invalid picture"},
    };
    int logged = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const Result result = RunWrapped({"sh", "-c", "ulimit -v 409600; exec \"$0\" \"$@\""}, c.arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(result.err.contains(c.error)) << result.err.toStdString();
        EXPECT_EQ(LogEntries(), ++logged);
    }
}

// The sheets of a map are read for the tiles it places, never all held whole: three sheets that
// would take twice the limit draw every cell.
TEST_F(WholeFiles, SheetsOfAMapAreNotHeldWhole) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#endif
    QString tilesets;
    for (int k = 0; k < 3; ++k) {
        WriteBytes(folder_.File(QStringLiteral("s%1.bmp").arg(k)), Rle8Bitmap(8192, 8192));
        tilesets += QStringLiteral(R"(<tileset firstgid="%1" name="s%2" tilewidth="32" tileheight="32" tilecount="65536" columns="256">
 <image source="s%2.bmp" width="8192" height="8192"/></tileset>)").arg(1 + 65536 * k).arg(k);
    }
    WriteBytes(folder_.File("three.tmx"), QStringLiteral(R"(<map orientation="orthogonal" width="3" height="1" tilewidth="32" tileheight="32">%1
 <layer id="1" name="l" width="3" height="1"><data encoding="csv">65536,131072,196608</data></layer></map>)").arg(tilesets).toUtf8());
    const Result result = RunWrapped({"sh", "-c", "ulimit -v 819200; exec \"$0\" \"$@\""},
                                     {"compile", "--map", folder_.File("three.tmx"), folder_.File("three.png"), "-q"});
    ASSERT_EQ(result.status, 0) << result.err.toStdString();
    const QImage drawn(folder_.File("three.png"));
    ASSERT_EQ(drawn.size(), QSize(96, 32));
    for (int x = 16; x < 96; x += 32) {
        EXPECT_EQ(drawn.pixel(x, 31), 0xFFFFFFFFu) << "cell at " << x;
    }
}

}  // namespace
