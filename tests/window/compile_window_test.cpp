// Compile runs through the real window: the sheet of the default width, a canvas that starts
// blank on every run, a folder without info.ini, and a log entry for a tile that fails.
#include "shownwindow.h"

#include "runtime/runtimeerror.h"
#include "support/tilefixtures.h"
#include "surfaces/formview.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <gtest/gtest.h>

namespace {

class CompileWindow : public ShownWindow {
protected:
    void SetUp() override {
        modRecs::Reset();
        ShownWindow::SetUp();
        optCompile()->setChecked(true);
    }
    void TearDown() override { modRecs::Reset(); }

    // One click of the convert button with these boxes; the width box keeps what it shows.
    void compile(const QString& source, const char* destination, const QString& start = "0") {
        QDir().mkpath(folder_.File(destination));
        setText("ipath", source);
        setText("spath", folder_.File(destination));
        setText("txtStart", start);
        QTest::mouseClick(command1(), Qt::LeftButton);
    }
    QString sheet(const char* destination) const { return folder_.File(destination) + "/Tiles.bmp"; }
    const QImage& canvas() { return window_->Image(FormView::Pic::picBack).Image(); }

    MessageRecorder messages_;
};

TEST_F(CompileWindow, DefaultWidthGivesASheetSixTilesWide) {
    // No info.ini beside the program: the width box starts at 0.
    ASSERT_EQ(text("txtWidth"), "0");
    compile(MakeTileFolder(folder_.File("tiles"), 0, 14, "14"), "out");
    const QImage written(sheet("out"));
    EXPECT_EQ(written.size(), QSize(192, 207));
    EXPECT_EQ(SheetMismatch(written, {{0, 1, 2, 3, 4, 5}, {6, 7, 8, 9, 10, 11}, {12, 13}}), QString());
    EXPECT_EQ(child("picBack")->width(), 192);
    EXPECT_TRUE(messages_.Messages().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(folder_.File("Errors.Log")));
}

TEST_F(CompileWindow, ASecondRunShowsOnlyItsOwnTiles) {
    setText("txtWidth", "7");
    compile(MakeTileFolder(folder_.File("many"), 0, 14, "14"), "first");
    compile(MakeTileFolder(folder_.File("few"), 0, 3, "3"), "second");
    EXPECT_EQ(SheetMismatch(QImage(sheet("second")), {{0, 1, 2}}), QString());
    EXPECT_EQ(SheetMismatch(canvas(), {{0, 1, 2}}), QString());
    EXPECT_FALSE(QFileInfo::exists(folder_.File("Errors.Log")));
}

TEST_F(CompileWindow, AFolderWithoutInfoIniAfterAGoodRunWritesNothing) {
    setText("txtWidth", "3");
    compile(MakeTileFolder(folder_.File("good"), 0, 3, "3"), "first");
    const QImage before = canvas();
    // Pictures of their own under the same numbers, but no info.ini.
    const QString bare = folder_.File("bare");
    QDir().mkpath(bare);
    for (int n = 0; n < 3; ++n) {
        ASSERT_TRUE(TileImage(n + 100).save(bare + "/" + QString::number(n) + ".bmp", "BMP"));
    }
    compile(bare, "second");
    EXPECT_EQ(messages_.Messages(),
              QStringList{"Tilvex converter could not locate your tile information (info.ini) file."});
    EXPECT_FALSE(QFileInfo::exists(sheet("second")));
    EXPECT_FALSE(QFileInfo::exists(folder_.File("Errors.Log")));
    EXPECT_EQ(canvas(), before);
    EXPECT_EQ(window_->height(), 112);
}

TEST_F(CompileWindow, AMissingTileLeavesOneEntryNamingIt) {
    setText("txtWidth", "7");
    const QString tiles = MakeTileFolder(folder_.File("tiles"), 0, 14, "14");
    ASSERT_TRUE(QFile::remove(tiles + "/9.bmp"));
    compile(tiles, "out");
    EXPECT_FALSE(QFileInfo::exists(sheet("out")));
    // The failure's own box names the tile; no message of the input checks.
    ASSERT_EQ(messages_.Messages().size(), 1);
    EXPECT_TRUE(messages_.Messages().front().contains(tiles + "/9.bmp")) << messages_.Messages().front().toStdString();
    EXPECT_EQ(LoggedNumbers(folder_), std::vector<int>{Err::E_FAIL_});
    EXPECT_TRUE(ReadBytes(folder_.File("Errors.Log"))
                    .contains("Error #-2147467259\r\nDescription: Automation error: unspecified failure (tile 9.bmp)\r\n"));
}

}  // namespace
