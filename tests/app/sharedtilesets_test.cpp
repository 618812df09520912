#include "support/testsupport.h"
#include "tilvexrun.h"

#include "runtime/paths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <iostream>
#include <random>

namespace {

constexpr int Side = 16;

// A level of columns x rows opaque tiles drawn from distinct random ones, each used at least
// once; levels of other seeds share no tile.
QImage level(int columns, int rows, int distinct, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<QImage> tiles;
    for (int n = 0; n < distinct; ++n) {
        QImage tile(Side, Side, QImage::Format_RGB32);
        for (int y = 0; y < Side; ++y) {
            for (int x = 0; x < Side; ++x) {
                tile.setPixel(x, y, 0xFF000000u | (random() & 0xFFFFFFu));
            }
        }
        tiles.push_back(tile);
    }
    QImage picture(columns * Side, rows * Side, QImage::Format_RGB32);
    for (int k = 0; k < columns * rows; ++k) {
        const QImage& tile = tiles[static_cast<std::size_t>(k < distinct ? k : static_cast<int>(random() % static_cast<unsigned>(distinct)))];
        for (int y = 0; y < Side; ++y) {
            for (int x = 0; x < Side; ++x) {
                picture.setPixel(k % columns * Side + x, k / columns * Side + y, tile.pixel(x, y));
            }
        }
    }
    return picture;
}

int tileCount(const QString& tileset) {
    const QRegularExpressionMatch match = QRegularExpression(R"re(tilecount="(\d+)")re").match(QString::fromUtf8(ReadBytes(tileset)));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

class SharedTilesets : public ::testing::Test {
protected:
    QStringList split(const QString& picture, const QString& map, const QStringList& more = {}) const {
        return QStringList{"split", folder.File(picture), folder.File("tiles"), "--tile", QString::number(Side), "--format",
                           "png", "--unique", "--tileset", folder.File("shared.tsx"), "--map", folder.File(map)} + more;
    }
    // Whether the map draws the picture again.
    bool drawsAgain(const QString& map, const QString& picture) const {
        const TilvexResult run = program.Run({"compile", "--map", folder.File(map), folder.File("again.png")});
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        return QImage(folder.File("again.png")).convertToFormat(QImage::Format_RGB32) ==
               QImage(folder.File(picture)).convertToFormat(QImage::Format_RGB32);
    }
    void saveLevel(const QString& name, int distinct, unsigned seed) const {
        ASSERT_TRUE(level(40, 30, distinct, seed).save(folder.File(name)));
    }

    TestFolder folder;
    TilvexProgram program{folder};
};

TEST_F(SharedTilesets, RunsAtOnceLoseNoTileAndBreakNoMap) {
    saveLevel("l1.png", 100, 1);
    ASSERT_EQ(program.Run(split("l1.png", "m1.tmx")).status, 0);
    for (int round = 0; round < 2; ++round) {
        std::vector<std::unique_ptr<QProcess>> runs;
        for (int k = 0; k < 3; ++k) {
            const QString name = QStringLiteral("r%1-%2").arg(round).arg(k);
            saveLevel(name + ".png", 300, static_cast<unsigned>(100 + round * 10 + k));
            runs.push_back(std::make_unique<QProcess>());
            runs.back()->start(program.Path(), split(name + ".png", name + ".tmx"));
        }
        for (const auto& run : runs) {
            ASSERT_TRUE(run->waitForFinished(120000));
            EXPECT_EQ(run->exitCode(), 0) << run->readAllStandardError().toStdString();
        }
        EXPECT_EQ(tileCount(folder.File("shared.tsx")), 100 + 900 * (round + 1));
    }
    EXPECT_TRUE(drawsAgain("m1.tmx", "l1.png"));
    for (int round = 0; round < 2; ++round) {
        for (int k = 0; k < 3; ++k) {
            const QString name = QStringLiteral("r%1-%2").arg(round).arg(k);
            EXPECT_TRUE(drawsAgain(name + ".tmx", name + ".png")) << name.toStdString();
        }
    }
}

TEST_F(SharedTilesets, AnotherStartNeverTakesFilesTheTilesetUses) {
    saveLevel("l1.png", 40, 1);
    saveLevel("l2.png", 40, 2);
    ASSERT_EQ(program.Run(split("l1.png", "m1.tmx", {"--start", "10"})).status, 0);
    const QByteArray tileset = ReadBytes(folder.File("shared.tsx"));
    // Ids 40 on would be files 40.png on, which ids 30 to 39 use.
    const TilvexResult second = program.Run(split("l2.png", "m2.tmx", {"--start", "0"}));
    EXPECT_EQ(second.status, 1);
    EXPECT_TRUE(second.err.contains(folder.File("tiles/40.png"))) << second.err.toStdString();
    EXPECT_EQ(ReadBytes(folder.File("shared.tsx")), tileset);
    EXPECT_FALSE(QFileInfo::exists(folder.File("m2.tmx")));
    EXPECT_TRUE(drawsAgain("m1.tmx", "l1.png"));
    // Past every used file it goes on.
    EXPECT_EQ(program.Run(split("l2.png", "m2.tmx", {"--start", "10"})).status, 0);
    EXPECT_TRUE(drawsAgain("m1.tmx", "l1.png"));
    EXPECT_TRUE(drawsAgain("m2.tmx", "l2.png"));
}

TEST_F(SharedTilesets, LinkedFilesAreEditedAtTheirTargetsAndTileLinksReplaced) {
    saveLevel("l1.png", 30, 1);
    saveLevel("l2.png", 30, 2);
    ASSERT_TRUE(QDir(folder.Path()).mkpath("real"));
    ASSERT_TRUE(QDir(folder.Path()).mkpath("tiles"));
    WriteBytes(folder.File("keep.png"), "not a tile");
    ASSERT_EQ(::symlink("../keep.png", ToFsPath(folder.File("tiles/0.png")).c_str()), 0);
    ASSERT_EQ(::symlink("real/shared.tsx", ToFsPath(folder.File("shared.tsx")).c_str()), 0);
    ASSERT_EQ(::symlink("real/m.tmx", ToFsPath(folder.File("m.tmx")).c_str()), 0);
    for (const char* picture : {"l1.png", "l2.png"}) {
        const TilvexResult run = program.Run(split(picture, "m.tmx"));
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_TRUE(QFileInfo(folder.File("shared.tsx")).isSymLink());
        EXPECT_TRUE(QFileInfo(folder.File("m.tmx")).isSymLink());
        EXPECT_TRUE(drawsAgain("m.tmx", picture)) << picture;
    }
    EXPECT_EQ(tileCount(folder.File("real/shared.tsx")), 60);
    EXPECT_FALSE(QFileInfo(folder.File("tiles/0.png")).isSymLink());
    EXPECT_EQ(ReadBytes(folder.File("keep.png")), "not a tile");
}

TEST_F(SharedTilesets, FoldersOfTilesetAndMapLoseDeadRunsLeftovers) {
    saveLevel("l1.png", 30, 1);
    ASSERT_TRUE(QDir(folder.Path()).mkpath("sets"));
    ASSERT_TRUE(QDir(folder.Path()).mkpath("maps"));
    // No process has this id: the run that left these is gone.
    const QStringList leftovers{"sets/.tilvex-2147483000-1.tmp", "maps/.tilvex-2147483000-2.tmp"};
    for (const QString& leftover : leftovers) {
        WriteBytes(folder.File(leftover), "half");
    }
    const TilvexResult run = program.Run({"split", folder.File("l1.png"), folder.File("tiles"), "--tile", "16", "--format",
                                          "png", "--unique", "--tileset", folder.File("sets/s.tsx"), "--map",
                                          folder.File("maps/m.tmx")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    for (const QString& leftover : leftovers) {
        EXPECT_FALSE(QFileInfo::exists(folder.File(leftover))) << leftover.toStdString();
    }
}

TEST_F(SharedTilesets, DestinationsThatAreInputsDevicesOrUnwritableKindsAreRefused) {
    saveLevel("l1.png", 30, 1);
    ASSERT_EQ(program.Run(split("l1.png", "m1.tmx")).status, 0);
    ASSERT_EQ(::link(ToFsPath(folder.File("shared.tsx")).c_str(), ToFsPath(folder.File("same.png")).c_str()), 0);
    ASSERT_EQ(::mkfifo(ToFsPath(folder.File("fifo.png")).c_str(), 0644), 0);
    ASSERT_TRUE(QDir(folder.Path()).mkpath("dir.png"));
    // A device node of our own (the null device's numbers): /dev/null itself is the machine's.
    const bool device = ::mknod(ToFsPath(folder.File("null.png")).c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    const struct {
        QString destination;
        QStringList more;
        int status;
        const char* inErr;
    } cases[] = {
        {folder.File("tiles/0.png"), {}, 1, "an input of this run"},
        {folder.File("same.png"), {}, 1, "an input of this run"},
        {folder.File("fifo.png"), {}, 1, "is no regular file"},
        {folder.File("dir.png"), {}, 1, "is no regular file"},
        {folder.File("null.png"), {}, 1, "is no regular file"},
        {folder.File("out.gif"), {}, 2, "not .gif"},
        {folder.File("out.jpg"), {"--format", "png"}, 2, "not .jpg"},
        {folder.File("out"), {}, 2, "give --format"},
        {folder.File("m1.tmx"), {}, 2, "not .tmx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.destination.toStdString());
        if (c.destination.endsWith("null.png") && !device) {
            std::cout << "no device node made (needs root): that case skipped\n";
            continue;
        }
        struct stat before {};
        const bool existed = ::stat(ToFsPath(c.destination).c_str(), &before) == 0;
        const QByteArray bytes = QFileInfo(c.destination).isFile() ? ReadBytes(c.destination) : QByteArray();
        const TilvexResult run = program.Run(QStringList{"compile", "--map", folder.File("m1.tmx"), c.destination} + c.more);
        EXPECT_EQ(run.status, c.status);
        EXPECT_TRUE(run.err.contains(c.inErr)) << run.err.toStdString();
        struct stat after {};
        EXPECT_EQ(::stat(ToFsPath(c.destination).c_str(), &after) == 0, existed);
        if (existed) {
            EXPECT_EQ(after.st_mode & S_IFMT, before.st_mode & S_IFMT);
            EXPECT_EQ(after.st_ino, before.st_ino);
        }
        if (!bytes.isEmpty()) {
            EXPECT_EQ(ReadBytes(c.destination), bytes);
        }
    }
    EXPECT_TRUE(drawsAgain("m1.tmx", "l1.png"));
    const TilvexResult named = program.Run({"compile", "--map", folder.File("m1.tmx"), folder.File("out"), "--format", "png"});
    EXPECT_EQ(named.status, 0) << named.err.toStdString();
}

// A process limit leaves no thread to start: the run goes on with its own and writes the same.
TEST_F(SharedTilesets, NoHelperThreadMeansTheSameFiles) {
    const QString setpriv = QStandardPaths::findExecutable("setpriv");
    const QString prlimit = QStandardPaths::findExecutable("prlimit");
    if (::geteuid() != 0 || setpriv.isEmpty() || prlimit.isEmpty()) {
        GTEST_SKIP() << "needs root, setpriv and prlimit to run as a user with a process limit";
    }
    saveLevel("l1.png", 100, 1);
    QFile(folder.Path()).setPermissions(QFileDevice::Permissions(0x7777));
    QFile(program.Path()).setPermissions(QFileDevice::Permissions(0x7755));
    const QStringList limited{setpriv, "--reuid=nobody", "--regid=nogroup", "--clear-groups", prlimit, "--nproc=1"};
#if defined(__SANITIZE_ADDRESS__)
    // The leak checker needs a thread of its own at exit, which the limit does not give.
    qputenv("ASAN_OPTIONS", "detect_leaks=0");
#endif
    for (const QStringList& options : {QStringList{"--tile", "16", "--format", "png"}, QStringList{}}) {
        const QString source = folder.File(options.isEmpty() ? "l1.bmp" : "l1.png");
        if (options.isEmpty()) {
            ASSERT_TRUE(QImage(folder.File("l1.png")).save(source, "BMP"));
        }
        const TilvexResult plain = program.Run(QStringList{"split", source, folder.File("plain")} + options);
        ASSERT_EQ(plain.status, 0) << plain.err.toStdString();
        const TilvexResult run = program.Run(QStringList{"split", source, folder.File("limited")} + options, limited);
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        const QStringList names = QDir(folder.File("plain")).entryList(QDir::Files, QDir::Name);
        ASSERT_EQ(QDir(folder.File("limited")).entryList(QDir::Files, QDir::Name), names);
        for (const QString& name : names) {
            ASSERT_EQ(ReadBytes(folder.File("limited/" + name)), ReadBytes(folder.File("plain/" + name))) << name.toStdString();
        }
        QDir(folder.File("plain")).removeRecursively();
        QDir(folder.File("limited")).removeRecursively();
    }
}

}  // namespace
