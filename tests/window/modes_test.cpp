// The mode buttons and the convert button's captions, through the real window.
#include "shownwindow.h"
#include "window/frmconverter.h"

#include "support/testsupport.h"
#include "surfaces/formview.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class ModeTest : public ShownWindow {
protected:
    void click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(6, widget->height() / 2)); }
};

TEST_F(ModeTest, ConvertCaptionUntilAModeButtonIsClicked) {
    EXPECT_TRUE(optSplit()->isChecked());
    EXPECT_EQ(command1()->text(), "Convert");
    // Clicking the button that is already selected selects nothing new.
    click(optSplit());
    EXPECT_EQ(command1()->text(), "Convert");
    click(optCompile());
    EXPECT_TRUE(optCompile()->isChecked());
    EXPECT_FALSE(optSplit()->isChecked());
    EXPECT_EQ(command1()->text(), "Compile");
    click(optSplit());
    EXPECT_TRUE(optSplit()->isChecked());
    EXPECT_FALSE(optCompile()->isChecked());
    EXPECT_EQ(command1()->text(), "Split");
}

struct CompileClickCase {
    const char* name;
    QString before;
    QString after;
};

TEST_F(ModeTest, CompileClearsOnlyALowerCaseBitmapName) {
    const CompileClickCase cases[] = {
        {"bitmap", "/art/big.bmp", ""},
        {"start-up default", folder_.Path() + "/.bmp", ""},
        {"just the extension", ".bmp", ""},
        {"upper-case extension", "/art/big.BMP", "/art/big.BMP"},
        {"mixed-case extension", "/art/big.Bmp", "/art/big.Bmp"},
        {"folder", "/art/tiles/", "/art/tiles/"},
        {"folder without separator", "/art/tiles", "/art/tiles"},
        {"shorter than the extension", "bmp", "bmp"},
        {"extension then blank", "/art/big.bmp ", "/art/big.bmp "},
        {"other picture", "/art/big.png", "/art/big.png"},
        {"empty", "", ""},
        {"non-ASCII bitmap", "/art/タイル é.bmp", ""},
    };
    for (const CompileClickCase& c : cases) {
        SCOPED_TRACE(c.name);
        optSplit()->setChecked(true);
        ipath()->setText(c.before);
        click(optCompile());
        ASSERT_TRUE(optCompile()->isChecked());
        EXPECT_EQ(ipath()->text(), c.after);
        EXPECT_EQ(window_->Text(FormView::Box::ipath), c.after);
        EXPECT_EQ(command1()->text(), "Compile");
    }
}

TEST_F(ModeTest, SplitLeavesTheSourceAsItIs) {
    const QString texts[] = {"", "/art/tiles/", "/art/big.bmp", "/art/big.BMP", "0"};
    for (const QString& text : texts) {
        SCOPED_TRACE(text.toStdString());
        optCompile()->setChecked(true);
        ipath()->setText(text);
        click(optSplit());
        ASSERT_TRUE(optSplit()->isChecked());
        EXPECT_EQ(ipath()->text(), text);
        EXPECT_EQ(command1()->text(), "Split");
    }
}

TEST_F(ModeTest, SwitchingBackDoesNotRestoreTheClearedSource) {
    ipath()->setText("/art/big.bmp");
    click(optCompile());
    EXPECT_EQ(ipath()->text(), "");
    click(optSplit());
    EXPECT_EQ(ipath()->text(), "");
}

TEST_F(ModeTest, SelectingWithTheKeyboardRunsTheHandlers) {
    QApplication::setActiveWindow(window_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    ipath()->setText("/art/big.bmp");
    optSplit()->setFocus();
    QTest::keyClick(optSplit(), Qt::Key_Right);
    ASSERT_TRUE(optCompile()->isChecked());
    EXPECT_EQ(command1()->text(), "Compile");
    EXPECT_EQ(ipath()->text(), "");
    QTest::keyClick(optCompile(), Qt::Key_Left);
    ASSERT_TRUE(optSplit()->isChecked());
    EXPECT_EQ(command1()->text(), "Split");
}

TEST_F(ModeTest, SelectingFromCodeRunsTheHandlers) {
    ipath()->setText("/art/big.bmp");
    optCompile()->setChecked(true);
    EXPECT_EQ(command1()->text(), "Compile");
    EXPECT_EQ(ipath()->text(), "");
    EXPECT_TRUE(window_->CompileSelected());
    EXPECT_FALSE(window_->SplitSelected());
    optSplit()->setChecked(true);
    EXPECT_EQ(command1()->text(), "Split");
    EXPECT_TRUE(window_->SplitSelected());
    EXPECT_FALSE(window_->CompileSelected());
}

}  // namespace
