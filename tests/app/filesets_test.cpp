// Files that belong together (tiles, info.ini and the map of a level; a sheet and its tileset;
// the maps over an optimized tileset) are replaced as a set: wherever a run stops, every map
// draws as its old or its new self and no tileset describes a sheet that is not there.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <random>

#include "support/testsupport.h"
#include "tilvexrun.h"

namespace {

constexpr int Side = 16;

// columns x rows cells of distinct random opaque tiles, each used at least once.
QImage level(int columns, int rows, int distinct, unsigned seed) {
    std::mt19937 random(seed);
    QImage picture(columns * Side, rows * Side, QImage::Format_RGB32);
    for (int k = 0; k < columns * rows; ++k) {
        const int tile = k < distinct ? k : static_cast<int>(random() % static_cast<unsigned>(distinct));
        std::mt19937 pixels(seed * 1000 + static_cast<unsigned>(tile));
        for (int y = 0; y < Side; ++y) {
            for (int x = 0; x < Side; ++x) {
                picture.setPixel(k % columns * Side + x, k / columns * Side + y,
                                 0xFF000000u | (pixels() & 0xFFFFFFu));
            }
        }
    }
    return picture;
}

class FileSets : public ::testing::Test {
protected:
    TilvexResult Run(const QStringList& arguments, const QStringList& wrapper = {}) const {
        return tilvex.Run(arguments, wrapper);
    }
    QString F(const QString& name) const { return folder.File(name); }

    // A level cut into tiles in folder, and a map over a tileset of its own (in the map's folder).
    QImage cutLevel(const QString& name, unsigned seed, const QString& map, const QString& tiles = {}) {
        const QImage picture = level(12, 8, 30, seed);
        EXPECT_TRUE(picture.save(F(name + ".png")));
        const QString folder = tiles.isEmpty() ? F("cut-" + name) : tiles;
        if (!QFileInfo(map).absolutePath().startsWith(QFileInfo(folder).absoluteFilePath())) {
            QDir().mkpath(QFileInfo(map).path());
        }
        const QStringList split{"split", F(name + ".png"), folder,  "--tile", "16", "--format",
                                "png",   "--unique",       "--map", map,      "-q"};
        EXPECT_EQ(Run(split).status, 0);
        return picture;
    }

    // A sheet of the level's tiles and its tileset t.tsx in the folder sheet, and a folder ext.
    void compileSheet() {
        QDir().mkpath(F("sheet"));
        QDir().mkpath(F("ext"));
        const QStringList compile{"compile",  F("lv"), F("sheet"),  "--tile",         "16",
                                  "--format", "png",   "--tileset", F("sheet/t.tsx"), "-q"};
        ASSERT_EQ(Run(compile).status, 0);
    }

    // What the map draws, or a null picture where it does not draw.
    QImage drawn(const QString& map) const {
        QFile::remove(F("drawn.png"));
        if (Run({"compile", "--map", map, F("drawn.png"), "-q"}).status != 0) {
            return {};
        }
        return QImage(F("drawn.png")).convertToFormat(QImage::Format_RGB32);
    }

    // Killed by strace at the n-th call of the file steps.
    TilvexResult killedAt(int n, const QStringList& arguments) const {
        const QString calls = "rename,renameat,renameat2,link,linkat,unlink,unlinkat";
        return Run(arguments, {"env", "ASAN_OPTIONS=detect_leaks=0", strace, "-f", "-o", "/dev/null", "-e",
                               "trace=" + calls, "-e",
                               QStringLiteral("inject=%1:signal=KILL:when=%2").arg(calls).arg(n)});
    }

    // Whether the tileset's image is there at the size the tileset gives.
    bool describesItsSheet(const QString& tileset) const {
        const QString text = QString::fromUtf8(ReadBytes(tileset));
        const QRegularExpressionMatch image =
            QRegularExpression(R"re(<image source="([^"]+)" width="(\d+)" height="(\d+)")re").match(text);
        if (!image.hasMatch()) {
            return false;
        }
        const QImage sheet(QFileInfo(tileset).dir().filePath(image.captured(1)));
        return sheet.size() == QSize(image.captured(2).toInt(), image.captured(3).toInt());
    }

    TestFolder folder;
    TilvexProgram tilvex{folder};
    const QString strace = QStandardPaths::findExecutable("strace");
};

// The natural layout, the map beside its tiles in a folder still to be made; and a second
// level into that folder without --tileset replaces neither the first one's tileset nor tiles.
TEST_F(FileSets, LevelSplitMakesTheFolderWithItsMapAndReplacesNoOtherLevel) {
    const QImage first = cutLevel("one", 1, F("lv/a.tmx"), F("lv"));
    EXPECT_EQ(drawn(F("lv/a.tmx")), first);
    EXPECT_TRUE(QFileInfo::exists(F("lv/info.ini")));
    ASSERT_TRUE(level(12, 8, 30, 2).save(F("two.png")));
    const QByteArray tileset = ReadBytes(F("lv/a.tsx"));
    for (const QStringList& more :
         {QStringList{"--map", F("lv/a.csv")}, QStringList{"--map", F("lv/b.tmx")}}) {
        const TilvexResult second = Run(
            QStringList{"split", F("two.png"), F("lv"), "--tile", "16", "--format", "png", "--unique", "-q"} +
            more);
        EXPECT_NE(second.status, 0) << more.join(' ').toStdString();
        EXPECT_TRUE(second.err.contains("--tileset")) << second.err.toStdString();
    }
    EXPECT_EQ(ReadBytes(F("lv/a.tsx")), tileset);
    EXPECT_EQ(drawn(F("lv/a.tmx")), first);
}

// Killed at each of its file steps: the new folder is absent or whole; the extruded tileset
// describes the sheet that is there; every optimized map draws as its old or new self.
TEST_F(FileSets, KilledAtEachFileStepTheSetIsOldOrNew) {
    if (strace.isEmpty()) {
        GTEST_SKIP() << "strace is not installed";
    }
    const QImage picture = cutLevel("one", 1, F("lv/a.tmx"), F("lv"));
    const QStringList split{"split", F("one.png"), F("new"), "--tile",       "16", "--format",
                            "png",   "--unique",   "--map",  F("new/a.tmx"), "-q"};
    for (int n = 1; n <= 36; ++n) {
        killedAt(n, split);
        if (QFileInfo::exists(F("new"))) {
            EXPECT_EQ(drawn(F("new/a.tmx")), picture) << "killed at step " << n;
            EXPECT_TRUE(QFileInfo::exists(F("new/info.ini"))) << "killed at step " << n;
            ASSERT_TRUE(QDir(F("new")).removeRecursively());
        }
    }

    compileSheet();
    for (int n = 1; n <= 8; ++n) {
        ASSERT_EQ(Run({"extrude", F("sheet/t.tsx"), F("ext/o.tsx"), "--extrude", "1", "-q"}).status, 0);
        killedAt(n, {"extrude", F("sheet/t.tsx"), F("ext/o.tsx"), "--extrude", "3", "-q"});
        EXPECT_TRUE(describesItsSheet(F("ext/o.tsx"))) << "killed at step " << n;
    }

    // Version 1 and 2 of two maps: the maps in --out, version 1, are optimized from version 2.
    QList<QImage> pictures;
    for (const int version : {1, 2}) {
        for (const int m : {0, 1}) {
            pictures += cutLevel(QStringLiteral("v%1-%2").arg(version).arg(m), 10 * version + m,
                                 F(QStringLiteral("v%1/m%2.tmx").arg(version).arg(m)));
        }
    }
    const QStringList optimize{"optimize", F("v2/m0.tmx"), F("v2/m1.tmx"), "--out", F("out"), "-q"};
    for (int n = 1; n <= 12; ++n) {
        QDir(F("out")).removeRecursively();
        ASSERT_EQ(Run({"optimize", F("v1/m0.tmx"), F("v1/m1.tmx"), "--out", F("out"), "-q"}).status, 0);
        killedAt(n, optimize);
        for (const int m : {0, 1}) {
            const QImage map = drawn(F(QStringLiteral("out/m%1.tmx").arg(m)));
            EXPECT_TRUE(map == pictures[m] || map == pictures[2 + m])
                << "killed at step " << n << ", map " << m;
        }
    }
    // Into a new --out, the folder appears whole or not at all.
    for (int n = 1; n <= 6; ++n) {
        QDir(F("out")).removeRecursively();
        killedAt(n, optimize);
        if (QFileInfo::exists(F("out"))) {
            EXPECT_EQ(drawn(F("out/m1.tmx")), pictures[3]) << "killed at step " << n;
        }
    }
}

// Two optimize into one --out take turns: the first is slowed at its file steps while the
// second runs, and every map ends over the tileset of one run, drawing as that run's self.
TEST_F(FileSets, TwoOptimizeIntoOneOutTakeTurns) {
    if (strace.isEmpty()) {
        GTEST_SKIP() << "strace is not installed";
    }
    QList<QImage> pictures;
    for (const int version : {1, 2}) {
        for (const int m : {0, 1}) {
            pictures += cutLevel(QStringLiteral("v%1-%2").arg(version).arg(m), 10 * version + m,
                                 F(QStringLiteral("v%1/m%2.tmx").arg(version).arg(m)));
        }
    }
    ASSERT_EQ(Run({"optimize", F("v1/m0.tmx"), F("v1/m1.tmx"), "--out", F("out"), "-q"}).status, 0);
    const QString calls = "rename,renameat,renameat2,linkat";
    QProcess slow;
    // LeakSanitizer cannot run under ptrace.
    slow.start("env", {"ASAN_OPTIONS=detect_leaks=0", strace, "-f", "-o", "/dev/null", "-e", "trace=" + calls, "-e",
                        "inject=" + calls + ":delay_enter=300000", tilvex.Path(), "optimize", F("v1/m0.tmx"),
                        F("v1/m1.tmx"), "--out", F("out"), "-q"});
    ASSERT_TRUE(slow.waitForStarted());
    QThread::msleep(400);
    EXPECT_EQ(Run({"optimize", F("v2/m0.tmx"), F("v2/m1.tmx"), "--out", F("out"), "-q"}).status, 0);
    ASSERT_TRUE(slow.waitForFinished(60000));
    EXPECT_EQ(slow.exitCode(), 0) << slow.readAllStandardError().toStdString();
    const QImage m0 = drawn(F("out/m0.tmx"));
    const QImage m1 = drawn(F("out/m1.tmx"));
    EXPECT_TRUE((m0 == pictures[0] && m1 == pictures[1]) || (m0 == pictures[2] && m1 == pictures[3]));
}

// Every destination is checked before anything is written, and no command writes over its own
// input, through a hard link either.
TEST_F(FileSets, DestinationsAndInputsAreCheckedFirst) {
    cutLevel("one", 1, F("lv/a.tmx"), F("lv"));
    ASSERT_TRUE(QDir().mkpath(F("out/a.tmx")));
    const TilvexResult refused = Run({"optimize", F("lv/a.tmx"), "--out", F("out"), "-q"});
    EXPECT_NE(refused.status, 0);
    EXPECT_TRUE(refused.err.contains("no regular file")) << refused.err.toStdString();
    EXPECT_EQ(QDir(F("out")).entryList(QDir::Files | QDir::Hidden), QStringList());

    compileSheet();
    ASSERT_TRUE(QDir().mkpath(F("ext/o.tsx")));
    EXPECT_NE(Run({"extrude", F("sheet/t.tsx"), F("ext/o.tsx"), "-q"}).status, 0);
    EXPECT_FALSE(QFileInfo::exists(F("ext/o.png")));

    const QByteArray tileset = ReadBytes(F("sheet/t.tsx"));
    ASSERT_EQ(::link(F("sheet/t.tsx").toLocal8Bit().constData(), F("hard.tsx").toLocal8Bit().constData()), 0);
    for (const QString& out : {F("sheet/t.tsx"), F("hard.tsx")}) {
        const TilvexResult run = Run({"extrude", F("sheet/t.tsx"), out, "-q"});
        EXPECT_NE(run.status, 0) << out.toStdString();
        EXPECT_TRUE(run.err.contains("input")) << run.err.toStdString();
    }
    EXPECT_EQ(ReadBytes(F("sheet/t.tsx")), tileset);
}

// Paths inside a linked map or tileset are relative to its target, in every command.
TEST_F(FileSets, LinkedMapsAndTilesetsReadBesideTheirTarget) {
    const QImage picture = cutLevel("one", 1, F("lv/a.tmx"), F("lv"));
    compileSheet();
    ASSERT_TRUE(QDir().mkpath(F("links")));
    ASSERT_TRUE(QFile::link(F("sheet/t.tsx"), F("links/t.tsx")));
    ASSERT_TRUE(QFile::link(F("lv/a.tmx"), F("links/a.tmx")));
    EXPECT_EQ(Run({"extrude", F("links/t.tsx"), F("ext/o.tsx"), "-q"}).status, 0);
    EXPECT_TRUE(describesItsSheet(F("ext/o.tsx")));
    EXPECT_EQ(Run({"optimize", F("links/a.tmx"), "--out", F("out"), "-q"}).status, 0);
    EXPECT_EQ(drawn(F("out/a.tmx")), picture);
}

}  // namespace
