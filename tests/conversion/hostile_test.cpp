#include "conversion/converter.h"
#include "conversion/headlessform.h"
#include "records/tileinfo.h"
#include "support/bitmapwriter.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>

namespace {

using Box = FormView::Box;

// A window without widgets that lets a test change the files between two steps of a run.
class MeddlingForm : public HeadlessForm {
public:
    std::function<void(int)> onDoEvents;     // told the count of tiles cut so far
    std::function<void(int)> onOuterHeight;  // told the height set

    void DoEvents() override {
        HeadlessForm::DoEvents();
        if (onDoEvents) {
            onDoEvents(++tiles_);
        }
    }
    void SetOuterHeight(int twips) override {
        HeadlessForm::SetOuterHeight(twips);
        if (onOuterHeight) {
            onOuterHeight(twips);
        }
    }

private:
    int tiles_ = 0;
};

struct ClickRun {
    MeddlingForm form;
    Converter converter{form};
    MessageRecorder messages;

    void Click(bool split, const QString& source, const QString& destination, const QString& width = "4") {
        form.SelectSplit(split);
        form.SetText(Box::ipath, source);
        form.SetText(Box::spath, destination);
        form.SetText(Box::txtStart, "0");
        form.SetText(Box::txtWidth, width);
        converter.Command1_Click();
    }
};

int LogEntries(const TestFolder& folder) {
    return static_cast<int>(ReadBytes(folder.File("Errors.Log")).count("-------------------------------\r\n"));
}

QString Log(const TestFolder& folder) { return QString::fromLocal8Bit(ReadBytes(folder.File("Errors.Log"))); }

// Every file in the folder is a whole 32 by 32 tile (or the folder's info.ini); nothing
// half written, nothing left beside.
void ExpectOnlyWholeTiles(const QString& folder) {
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        if (name == "info.ini") {
            continue;
        }
        EXPECT_TRUE(name.endsWith(".bmp")) << name.toStdString();
        EXPECT_EQ(QFileInfo(folder + "/" + name).size(), 54 + 32 * 32 * 3) << name.toStdString();
        EXPECT_EQ(QImage(folder + "/" + name).size(), QSize(32, 32)) << name.toStdString();
    }
}

TEST(FullDisk, SplitStopsWithOneEntryAndWholeTiles) {
    TestFolder folder;
    SmallDisk disk(folder.File("disk"), "256k");
    if (!disk.Mounted()) {
        GTEST_SKIP() << "mounting a tmpfs is not allowed here";
    }
    WritePatternBitmap(folder.File("big.bmp"), 320, 320);  // 100 tiles, far more than the disk holds
    ClickRun run;
    run.Click(true, folder.File("big.bmp"), folder.File("disk/out"));
    EXPECT_EQ(LogEntries(folder), 1);
    EXPECT_TRUE(Log(folder).contains("Error #61\r\nDescription: Disk full\r\n")) << Log(folder).toStdString();
    EXPECT_GT(QDir(folder.File("disk/out")).entryList(QDir::Files).size(), 0);
    EXPECT_FALSE(QFileInfo::exists(folder.File("disk/out/info.ini")));
    ExpectOnlyWholeTiles(folder.File("disk/out"));
    EXPECT_TRUE(run.form.ButtonEnabled());
}

TEST(FullDisk, CompileLeavesNoSheetAndInfoIniStaysWhole) {
    TestFolder folder;
    SmallDisk disk(folder.File("disk"), "64k");
    if (!disk.Mounted()) {
        GTEST_SKIP() << "mounting a tmpfs is not allowed here";
    }
    WritePatternBitmap(folder.File("big.bmp"), 320, 320);
    ClickRun split;
    split.Click(true, folder.File("big.bmp"), folder.File("tiles"));
    ASSERT_EQ(GetVar(folder.File("tiles/info.ini"), "MAIN", "NumFiles"), "100");

    ClickRun compile;
    compile.Click(false, folder.File("tiles"), folder.File("disk"), "10");
    EXPECT_EQ(LogEntries(folder), 1);
    EXPECT_TRUE(Log(folder).contains("Error #61\r\n")) << Log(folder).toStdString();
    EXPECT_FALSE(QFileInfo::exists(folder.File("disk/Tiles.bmp")));
    EXPECT_TRUE(compile.form.ButtonEnabled());

    // A tile folder's info.ini on a disk that is full keeps its old content.
    WriteBytes(folder.File("disk/info.ini"), "[MAIN]\r\nNumFiles=7\r\n");
    QFile filler(folder.File("disk/filler"));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    while (filler.write(QByteArray(4096, 'x')) > 0 && filler.flush()) {
    }
    filler.close();
    WriteVar(folder.File("disk/info.ini"), "MAIN", "NumFiles", "1234567");
    EXPECT_EQ(ReadBytes(folder.File("disk/info.ini")), QByteArray("[MAIN]\r\nNumFiles=7\r\n"));
}

TEST(ChangingFiles, DestinationRemovedBetweenTwoTiles) {
    TestFolder folder;
    WritePatternBitmap(folder.File("big.bmp"), 128, 64);
    ClickRun run;
    run.form.onDoEvents = [&](int tiles) {
        if (tiles == 3) {
            QDir(folder.File("out")).removeRecursively();
        }
    };
    run.Click(true, folder.File("big.bmp"), folder.File("out"));
    EXPECT_EQ(LogEntries(folder), 1) << Log(folder).toStdString();
    EXPECT_FALSE(QFileInfo::exists(folder.File("out")));
    EXPECT_TRUE(run.form.ButtonEnabled());
    EXPECT_EQ(run.form.ButtonCaption(), "Convert");
}

TEST(ChangingFiles, TileRemovedDuringACompileRun) {
    TestFolder folder;
    WritePatternBitmap(folder.File("big.bmp"), 128, 64);
    ClickRun split;
    split.Click(true, folder.File("big.bmp"), folder.File("tiles"));
    ClickRun compile;
    compile.form.onOuterHeight = [&](int twips) {
        if (twips == 5625) {
            QFile::remove(folder.File("tiles/5.bmp"));
        }
    };
    compile.Click(false, folder.File("tiles"), folder.Path());
    // The image layer's failure: one entry naming the tile, and no sheet.
    EXPECT_EQ(LogEntries(folder), 1);
    EXPECT_TRUE(Log(folder).contains("(tile 5.bmp)")) << Log(folder).toStdString();
    EXPECT_FALSE(QFileInfo::exists(folder.File("Tiles.bmp")));
    EXPECT_TRUE(compile.form.ButtonEnabled());
}

TEST(ChangingFiles, SourcesThatAreNoFileAreMissing) {
    TestFolder folder;
    ASSERT_TRUE(QDir(folder.Path()).mkdir("folder.bmp"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder.File("fifo.bmp")).constData(), 0644), 0);
    ASSERT_EQ(::symlink("gone.bmp", QFile::encodeName(folder.File("dangling.bmp")).constData()), 0);
    for (const char* name : {"folder.bmp", "fifo.bmp", "dangling.bmp"}) {
        SCOPED_TRACE(name);
        ClickRun run;
        run.Click(true, folder.File(name), folder.File("out"));
        EXPECT_EQ(run.messages.Messages(), QStringList{"Source path does not exist!"});
        EXPECT_TRUE(QDir(folder.File("out")).entryList(QDir::Files).isEmpty());
    }
    EXPECT_EQ(LogEntries(folder), 0);
}

TEST(PathLimits, OddNamesWorkAndOverlongPathsFailClearly) {
    const QString longName = QString(251, QLatin1Char('n'));
    const QString odd = QString::fromUtf8("we\"ird' %s %d * ? \n name é");
    struct Case {
        const char* what;
        QString sourceName;
        QString destinationName;
    };
    const Case cases[] = {
        {"255-byte names", longName + ".bmp", longName + "out"},
        {"quotes, %, *, ? and a newline", odd + ".bmp", odd},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestFolder folder;
        ASSERT_EQ(QFile::encodeName(c.sourceName).size() <= 255, true);
        WritePatternBitmap(folder.File(c.sourceName), 64, 32);
        ClickRun run;
        run.Click(true, folder.File(c.sourceName), folder.File(c.destinationName));
        EXPECT_EQ(LogEntries(folder), 0) << Log(folder).toStdString();
        EXPECT_TRUE(run.messages.Messages().isEmpty());
        EXPECT_EQ(GetVar(folder.File(c.destinationName) + "/info.ini", "MAIN", "NumFiles"), "2");
        ExpectOnlyWholeTiles(folder.File(c.destinationName));
    }

    // Beyond the longest path the system takes: the message for a source, a log entry for
    // a destination.
    TestFolder folder;
    WritePatternBitmap(folder.File("big.bmp"), 64, 32);
    QString deep = folder.Path();
    while (QFile::encodeName(deep).size() < 4200) {
        deep += "/" + QString(200, QLatin1Char('d'));
    }
    ClickRun source;
    source.Click(true, deep + "/big.bmp", folder.File("out"));
    EXPECT_EQ(source.messages.Messages(), QStringList{"Source path does not exist!"});
    ClickRun destination;
    destination.Click(true, folder.File("big.bmp"), deep);
    EXPECT_TRUE(destination.messages.Messages().isEmpty());
    EXPECT_EQ(LogEntries(folder), 1);
    EXPECT_TRUE(destination.form.ButtonEnabled());
}

}  // namespace

// A tile count that cannot be recorded fails the run: a later Compile would draw the old count.
TEST(UnrecordedCount, EveryWayInfoIniRefusesIsAFailure) {
    struct Case {
        const char* name;
        std::function<bool(const TestFolder&)> spoil;  // false: skip, the machine cannot
        const char* error;
    };
    const Case cases[] = {
        {"read-only", [](const TestFolder& f) {
             WriteBytes(f.File("out/info.ini"), "[MAIN]\r\nNumFiles=3\r\n");
             return ::chmod(QFile::encodeName(f.File("out/info.ini")).constData(), 0444) == 0;
         }, "Error #70\r\n"},
        {"a folder", [](const TestFolder& f) { return QDir().mkpath(f.File("out/info.ini")); }, "Error #75\r\n"},
        {"a FIFO", [](const TestFolder& f) {
             return ::mkfifo(QFile::encodeName(f.File("out/info.ini")).constData(), 0666) == 0;
         }, "Error #75\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestFolder folder;
        WritePatternBitmap(folder.File("big.bmp"), 100, 70);
        QDir().mkpath(folder.File("out"));
        ASSERT_TRUE(c.spoil(folder));
        ClickRun run;
        run.Click(true, folder.File("big.bmp"), folder.File("out"));
        EXPECT_EQ(LogEntries(folder), 1);
        EXPECT_TRUE(Log(folder).contains(c.error)) << Log(folder).toStdString();
        EXPECT_TRUE(run.form.ButtonEnabled());
    }

    // On a disk that holds the six tiles and no more.
    TestFolder folder;
    SmallDisk disk(folder.File("disk"), "24k");
    if (!disk.Mounted()) {
        GTEST_SKIP() << "mounting a tmpfs is not allowed here";
    }
    WritePatternBitmap(folder.File("big.bmp"), 100, 70);
    ClickRun run;
    run.Click(true, folder.File("big.bmp"), folder.File("disk"));
    EXPECT_EQ(QDir(folder.File("disk")).entryList({"*.bmp"}, QDir::Files).size(), 6);
    EXPECT_FALSE(QFileInfo::exists(folder.File("disk/info.ini")));
    EXPECT_TRUE(Log(folder).contains("Error #61\r\n")) << Log(folder).toStdString();
}
