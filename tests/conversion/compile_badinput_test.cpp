#include "conversion/compilefixture.h"
#include "runtime/runtimeerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <climits>
#include <sys/stat.h>

namespace {

TEST_F(Compile, BadTileCountsEndTheRunLogged) {
    struct Case {
        const char* name;
        QString numFiles;
        int logged;
    } cases[] = {
        // The canvas would be far taller than any canvas can be.
        {"largest count", "2147483647", Err::InvalidPropertyValue},
        {"negative count", "-1", Err::SubscriptOutOfRange},
        {"beyond 32 bits", "2147483648", Err::Overflow},
        {"1e300", "1e300", Err::Overflow},
        {"600 digits", QString(600, '9'), Err::Overflow},
        {"600 letters", QString(600, 'x'), Err::TypeMismatch},
        {"no number", "abc", Err::TypeMismatch},
        {"empty", "", Err::TypeMismatch},
    };
    MakeTileFolder(Tiles(), 0, 3, "3");
    for (const Case& c : cases) {
        modRecs::Reset();
        QFile::remove(program.File("Errors.Log"));
        WriteInfo(Tiles(), c.numFiles);
        const int heightBefore = form.Image(FormView::Pic::picBack).Height();
        Run(Tiles(), Out(), "0", "7");
        EXPECT_EQ(LoggedNumbers(program), std::vector<int>{c.logged}) << c.name;
        EXPECT_FALSE(QFileInfo::exists(Sheet())) << c.name;
        EXPECT_EQ(reads.Total(), 0) << c.name;
        EXPECT_EQ(modRecs::TileSurf.FilledCount(), 0u) << c.name;
        EXPECT_EQ(form.Image(FormView::Pic::picBack).Height(), heightBefore) << c.name;
        EXPECT_TRUE(form.ButtonEnabled()) << c.name;
    }
    EXPECT_TRUE(messages.Messages().isEmpty());
}

TEST_F(Compile, LargestCountSizesTheTableWithoutAllocating) {
    MakeTileFolder(Tiles(), 0, 1, "2147483647");
    Run(Tiles(), Out(), "0", "7");
    EXPECT_EQ(form.NumTileSurfs, "2147483647");
    EXPECT_EQ(modRecs::TileSurf.UpperBound(), INT32_MAX);
    EXPECT_EQ(modRecs::TileSurf.FilledCount(), 0u);
    EXPECT_EQ(LoggedNumbers(program), std::vector<int>{Err::InvalidPropertyValue});
}

TEST_F(Compile, StartNumbersThatLeaveTheTable) {
    struct Case {
        const char* start;
        std::vector<int> logged;
        bool sheet;
    } cases[] = {
        {"-3", {Err::SubscriptOutOfRange}, false},
        {"-1", {Err::SubscriptOutOfRange}, false},
        {"-0.5", {}, true},  // rounds to 0
        {"2147483647", {Err::Overflow}, false},  // the next cell's number leaves 32 bits
        {"1e10", {Err::Overflow}, false},
        {"-2147483648", {Err::SubscriptOutOfRange}, false},
    };
    MakeTileFolder(Tiles(), 0, 14, "14");
    for (const Case& c : cases) {
        modRecs::Reset();
        QFile::remove(program.File("Errors.Log"));
        QFile::remove(Sheet());
        reads.Clear();
        Run(Tiles(), Out(), c.start, "7");
        EXPECT_EQ(LoggedNumbers(program), c.logged) << c.start;
        EXPECT_EQ(QFileInfo::exists(Sheet()), c.sheet) << c.start;
        if (!c.sheet) {
            EXPECT_EQ(reads.Total(), 0) << c.start;
            EXPECT_EQ(modRecs::TileSurf.FilledCount(), 0u) << c.start;
        }
    }
}

TEST_F(Compile, NegativeNumbersFromANegativeRowWidthNeverReachTheTable) {
    // A first run leaves a count of 2; a folder without info.ini would keep the command's
    // width of -2 and give the second row numbers below 0, but the run ends at the message.
    MakeTileFolder(Tiles(), 0, 2, "2");
    Run(Tiles(), Out(), "0", "2");
    ASSERT_TRUE(LoggedNumbers(program).empty());
    const QString bare = program.File("bare");
    QDir().mkpath(bare);
    reads.Clear();
    Run(bare, Out(), "0", "-2");
    EXPECT_EQ(messages.Messages(), QStringList{kMissingInfo});
    EXPECT_TRUE(LoggedNumbers(program).empty());
    EXPECT_EQ(reads.Total(), 0);
}

TEST_F(Compile, RowWidthOfZeroWithoutInfoIni) {
    // After a successful run, a width box of 0 and no info.ini would leave a width of 0 to
    // divide by; the run ends at the message instead.
    MakeTileFolder(Tiles(), 0, 2, "2");
    Run(Tiles(), Out(), "0", "2");
    const QString bare = program.File("bare");
    QDir().mkpath(bare);
    Run(bare, Out(), "0", "0");
    EXPECT_EQ(messages.Messages(), QStringList{kMissingInfo});
    EXPECT_TRUE(LoggedNumbers(program).empty());
}

TEST_F(Compile, BadTileFiles) {
    struct Case {
        const char* name;
        std::function<void(const QString& file)> write;
        bool sheet;
        std::map<int, QSize> smallTiles;
    } cases[] = {
        {"truncated", [](const QString& f) { TileImage(3).save(f, "BMP"); WriteBytes(f, ReadBytes(f).chopped(100)); },
         false, {}},
        {"text", [](const QString& f) { WriteBytes(f, "[MAIN]\r\nNumFiles=3\r\n"); }, false, {}},
        {"empty", [](const QString& f) { WriteBytes(f, QByteArray()); }, false, {}},
        {"PNG", [](const QString& f) { TileImage(3).save(f, "PNG"); }, false, {}},
        {"folder", [](const QString& f) { QDir().mkdir(f); }, false, {}},
        {"larger", [](const QString& f) { TileImage(3, 64, 48).save(f, "BMP"); }, true, {}},
        {"smaller", [](const QString& f) { TileImage(3, 16, 8).save(f, "BMP"); }, true, {{3, QSize(16, 8)}}},
        {"8-bit palette", [](const QString& f) { TileImage(3).convertToFormat(QImage::Format_Indexed8).save(f, "BMP"); },
         true, {}},
    };
    for (const Case& c : cases) {
        modRecs::Reset();
        HeadlessForm fresh;
        Converter run(fresh);
        QDir(Tiles()).removeRecursively();
        MakeTileFolder(Tiles(), 0, 6, "6");
        QFile::remove(Tiles() + "/3.bmp");
        c.write(Tiles() + "/3.bmp");
        QFile::remove(Sheet());
        QFile::remove(program.File("Errors.Log"));
        fresh.SelectSplit(false);
        fresh.SetText(Box::ipath, Tiles());
        fresh.SetText(Box::spath, Out());
        fresh.SetText(Box::txtStart, "0");
        fresh.SetText(Box::txtWidth, "3");
        run.Command1_Click();

        EXPECT_EQ(QFileInfo::exists(Sheet()), c.sheet) << c.name;
        // Unreadable tiles fail in the image layer: one entry with its number and the tile.
        EXPECT_EQ(LoggedNumbers(program), c.sheet ? std::vector<int>{} : std::vector<int>{Err::E_FAIL_}) << c.name;
        EXPECT_EQ(ReadBytes(program.File("Errors.Log")).contains("(tile 3.bmp)"), !c.sheet) << c.name;
        if (c.sheet && QString(c.name) == "8-bit palette") {
            // The palette may merge colours: cell 3 shows the file's own pixels.
            const QImage sheet(Sheet());
            const QImage tile = QImage(Tiles() + "/3.bmp").convertToFormat(QImage::Format_RGB32);
            EXPECT_EQ(sheet.copy(0, 32, 32, 32).convertToFormat(QImage::Format_RGB32), tile);
        } else if (c.sheet) {
            EXPECT_EQ(SheetMismatch(QImage(Sheet()), {{0, 1, 2}, {3, 4, 5}}, c.smallTiles), QString()) << c.name;
        } else {
            EXPECT_EQ(SheetMismatch(fresh.Image(FormView::Pic::picBack).Image(), {{0, 1, 2}}), QString()) << c.name;
        }
    }
}

TEST_F(Compile, DestinationProblems) {
    MakeTileFolder(Tiles(), 0, 3, "3");
    // A missing destination is not created.
    Run(Tiles(), program.File("nowhere"), "0", "3");
    ASSERT_EQ(LoggedNumbers(program).size(), 1u);
    EXPECT_GT(LoggedNumbers(program)[0], 0);
    EXPECT_FALSE(QFileInfo::exists(program.File("nowhere")));

    // A read-only sheet stays as it was.
    QFile::remove(program.File("Errors.Log"));
    WriteBytes(Sheet(), "old sheet");
    ASSERT_EQ(::chmod(QFile::encodeName(Sheet()).constData(), 0444), 0);
    Run(Tiles(), Out(), "0", "3");
    EXPECT_EQ(LoggedNumbers(program), std::vector<int>{Err::PermissionDenied});
    EXPECT_EQ(ReadBytes(Sheet()), QByteArray("old sheet"));

    // A destination that is a file.
    QFile::remove(program.File("Errors.Log"));
    WriteBytes(program.File("plain"), "x");
    Run(Tiles(), program.File("plain"), "0", "3");
    ASSERT_EQ(LoggedNumbers(program).size(), 1u);
    EXPECT_GT(LoggedNumbers(program)[0], 0);
    EXPECT_EQ(ReadBytes(program.File("plain")), QByteArray("x"));
}

}  // namespace
