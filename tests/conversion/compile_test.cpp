#include "conversion/compilefixture.h"
#include "runtime/runtimeerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

TEST_F(Compile, FourteenTilesAtSevenToARow) {
    MakeTileFolder(Tiles(), 0, 14, "14");
    Run(Tiles(), Out(), "0", "7");

    const QImage sheet(Sheet());
    ASSERT_FALSE(sheet.isNull());
    EXPECT_EQ(sheet.size(), QSize(224, 196));
    const Cells cells{{0, 1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12, 13}};
    EXPECT_EQ(SheetMismatch(sheet, cells), QString());
    EXPECT_EQ(SheetMismatch(Canvas(), cells), QString());

    // Every tile read once, tile 7 too although it falls on two cells.
    EXPECT_EQ(reads.Total(), 14);
    for (int n = 0; n < 14; ++n) {
        EXPECT_EQ(reads.Of(n), 1) << n;
    }
    // Tiles no later cell can show are released as the run goes: none is left at its end.
    EXPECT_EQ(modRecs::TileSurf.FilledCount(), 0u);
    EXPECT_EQ(modRecs::TileSurf.At(14), nullptr);

    EXPECT_EQ(form.Text(Box::ipath), Tiles() + "/");
    EXPECT_EQ(form.NumTileSurfs, "14");
    EXPECT_EQ(form.TileWidth, "7");
    EXPECT_EQ(form.OuterHeight(), 2160);
    EXPECT_EQ(form.RepaintCount(), 1);
    EXPECT_EQ(form.DoEventsCount(), 1);  // the command's own, none during the run
    EXPECT_TRUE(form.ButtonEnabled());
    EXPECT_EQ(form.ButtonCaption(), "Convert");
    EXPECT_TRUE(messages.Messages().isEmpty());
    EXPECT_TRUE(LoggedNumbers(program).empty());
    EXPECT_EQ(modRecs::rTileSrc, (RECT{0, 0, 32, 32}));
    // The last cell visited: column 7 of row 6.
    EXPECT_EQ(modRecs::rTileDest, (RECT{224, 192, 256, 224}));
}

TEST_F(Compile, SheetLayouts) {
    struct Case {
        const char* name;
        const char* start;
        const char* width;
        int count;  // tiles 0 .. count - 1 on disk and NumFiles
        QSize size;
        Cells cells;
        int reads;
    } cases[] = {
        {"start 5", "5", "7", 14, {224, 196}, {{5, 6, 7, 8, 9, 10, 11}, {12, 13}}, 9},
        {"start 0.5", "0.5", "7", 14, {224, 196}, {{0, 2, 2, 4, 4, 6, 6}, {8, 8, 10, 10, 12, 12, -1}}, 7},
        // 80 pixels wide: three cells a row, the third cut in half.
        {"width 2.5", "0", "2.5", 10, {80, 264}, {{0, 1, 2}, {2, 4, 4}, {5, 6, 7}, {8, 8, -1}}, 8},
        {"fewer than a row", "0", "7", 3, {224, 143}, {{0, 1, 2}}, 3},
        {"no tiles", "0", "7", 0, {224, 128}, {}, 0},
        {"start past the count", "20", "7", 14, {224, 196}, {}, 0},
        {"one a row", "0", "1", 4, {32, 264}, {{0}, {1}, {2}, {3}}, 4},
    };
    for (const Case& c : cases) {
        modRecs::Reset();
        HeadlessForm fresh;
        Converter run(fresh);
        QDir(Tiles()).removeRecursively();
        MakeTileFolder(Tiles(), 0, c.count, QString::number(c.count));
        QFile::remove(Sheet());
        reads.Clear();
        fresh.SelectSplit(false);
        fresh.SetText(Box::ipath, Tiles());
        fresh.SetText(Box::spath, Out());
        fresh.SetText(Box::txtStart, c.start);
        fresh.SetText(Box::txtWidth, c.width);
        run.Command1_Click();

        const QImage sheet(Sheet());
        ASSERT_FALSE(sheet.isNull()) << c.name;
        EXPECT_EQ(sheet.size(), c.size) << c.name;
        EXPECT_EQ(SheetMismatch(sheet, c.cells), QString()) << c.name;
        EXPECT_EQ(reads.Total(), c.reads) << c.name;
        EXPECT_TRUE(LoggedNumbers(program).empty()) << c.name;
    }
}

TEST_F(Compile, CommaLocale) {
    const char* comma = CommaLocale();
    if (comma == nullptr) {
        GTEST_SKIP() << "no comma locale on this machine";
    }
    NumericLocale locale(comma);
    MakeTileFolder(Tiles(), 0, 10, "10");
    Run(Tiles(), Out(), "0", "2.5");
    EXPECT_EQ(form.TileWidth, "2,5");
    const QImage sheet(Sheet());
    EXPECT_EQ(sheet.size(), QSize(80, 264));
    EXPECT_EQ(SheetMismatch(sheet, {{0, 1, 2}, {2, 4, 4}, {5, 6, 7}, {8, 8, -1}}), QString());
}

TEST_F(Compile, DestinationWithOrWithoutSeparator) {
    MakeTileFolder(Tiles(), 0, 3, "3");
    for (const QString& destination : {Out(), Out() + "/"}) {
        QFile::remove(Sheet());
        Run(Tiles(), destination, "0", "3");
        EXPECT_TRUE(QFileInfo(Sheet()).isFile()) << destination.toStdString();
        EXPECT_EQ(SheetMismatch(QImage(Sheet()), {{0, 1, 2}}), QString());
    }
    EXPECT_FALSE(QFileInfo::exists(program.File("outTiles.bmp")));
}

TEST_F(Compile, MissingTileStopsTheRunLogged) {
    MakeTileFolder(Tiles(), 0, 14, "14");
    ASSERT_TRUE(QFile::remove(Tiles() + "/9.bmp"));
    Run(Tiles(), Out(), "0", "7");

    EXPECT_FALSE(QFileInfo::exists(Sheet()));
    EXPECT_EQ(LoggedNumbers(program), std::vector<int>{Err::E_FAIL_});
    EXPECT_TRUE(ReadBytes(program.File("Errors.Log")).contains("(tile 9.bmp)\r\n"));
    // The cells before the missing tile are drawn; the window stays enlarged.
    EXPECT_EQ(SheetMismatch(Canvas(), {{0, 1, 2, 3, 4, 5, 6}, {7, 8}}), QString());
    EXPECT_EQ(form.OuterHeight(), 5625);
    EXPECT_EQ(form.RepaintCount(), 0);
    EXPECT_TRUE(form.ButtonEnabled());
    EXPECT_EQ(form.ButtonCaption(), "Convert");
    // The first row's tiles are released once it is drawn; 7, read for both rows, and 8 stay.
    EXPECT_EQ(modRecs::TileSurf.FilledCount(), 2u);
    EXPECT_NE(modRecs::TileSurf.At(7), nullptr);
    EXPECT_NE(modRecs::TileSurf.At(8), nullptr);
}

TEST_F(Compile, MissingInfoOnTheFirstRun) {
    QDir().mkpath(Tiles());
    for (int n = 0; n < 3; ++n) {
        WriteTile(Tiles(), n);
    }
    Run(Tiles(), Out(), "0", "7");
    EXPECT_EQ(messages.Messages(), QStringList{kMissingInfo});
    EXPECT_FALSE(QFileInfo::exists(program.File("Errors.Log")));
    EXPECT_FALSE(QFileInfo::exists(Sheet()));
    EXPECT_EQ(reads.Total(), 0);
    EXPECT_EQ(form.OuterHeight(), 2160);
}

TEST_F(Compile, MissingInfoAfterAnEarlierRunWritesNothing) {
    // The first run loads tiles 7 to 13 only.
    MakeTileFolder(Tiles(), 0, 14, "14");
    Run(Tiles(), Out(), "7", "7");
    ASSERT_EQ(reads.Total(), 7);
    reads.Clear();

    // The second folder has no info.ini and other pictures under the same numbers.
    const QString other = program.File("other");
    QDir().mkpath(other);
    for (int n = 0; n < 14; ++n) {
        ASSERT_TRUE(TileImage(n + 100).save(other + "/" + QString::number(n) + ".bmp", "BMP"));
    }
    const QString again = program.File("again");
    QDir().mkpath(again);
    Run(other, again, "0", "7");
    EXPECT_EQ(messages.Messages(), QStringList{kMissingInfo});
    EXPECT_FALSE(QFileInfo::exists(program.File("Errors.Log")));
    EXPECT_EQ(reads.Total(), 0);
    EXPECT_FALSE(QFileInfo::exists(again + "/Tiles.bmp"));
}

TEST_F(Compile, WidthBoxBelowOneGivesASheetSixTilesWide) {
    MakeTileFolder(Tiles(), 0, 14, "14");
    for (const char* width : {"0", "", "abc", "0.5", "0.99", "-2", "-0.5"}) {
        SCOPED_TRACE(width);
        QFile::remove(Sheet());
        reads.Clear();
        Run(Tiles(), Out(), "0", width);
        EXPECT_EQ(form.TileWidth, "6");
        const QImage sheet(Sheet());
        EXPECT_EQ(sheet.size(), QSize(192, 207));
        EXPECT_EQ(SheetMismatch(sheet, {{0, 1, 2, 3, 4, 5}, {6, 7, 8, 9, 10, 11}, {12, 13}}), QString());
        EXPECT_EQ(reads.Total(), 14);
    }
    EXPECT_TRUE(LoggedNumbers(program).empty());
}

TEST_F(Compile, SecondRunReadsEveryTileAgain) {
    MakeTileFolder(Tiles(), 0, 5, "5");
    Run(Tiles(), Out(), "0", "5");
    const QByteArray first = ReadBytes(Sheet());
    Run(Tiles(), Out(), "0", "5");
    EXPECT_EQ(reads.Total(), 10);
    for (int n = 0; n < 5; ++n) {
        EXPECT_EQ(reads.Of(n), 2) << n;
    }
    EXPECT_EQ(ReadBytes(Sheet()), first);
}

TEST_F(Compile, EveryRunStartsFromABlankCanvas) {
    MakeTileFolder(Tiles(), 0, 14, "14");
    Run(Tiles(), Out(), "0", "7");
    // Fewer tiles now: the second row shows the background, not the first run's tiles.
    WriteInfo(Tiles(), "7");
    Run(Tiles(), Out(), "0", "7");
    EXPECT_EQ(SheetMismatch(QImage(Sheet()), {{0, 1, 2, 3, 4, 5, 6}}), QString());
    EXPECT_EQ(QImage(Sheet()).size(), QSize(224, 162));
    // No tiles at all: the whole sheet is background.
    WriteInfo(Tiles(), "0");
    Run(Tiles(), Out(), "0", "7");
    EXPECT_EQ(SheetMismatch(QImage(Sheet()), {}), QString());
}

}  // namespace
