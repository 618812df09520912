// The window as it opens: start-up defaults from the program folder, layout and settings.
#include "window/frmconverter.h"

#include "runtime/paths.h"
#include "support/testsupport.h"
#include "surfaces/formview.h"
#include "window/picturebox.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace {

template <class W = QWidget>
W* child(const QWidget& window, const char* name) {
    return window.findChild<W*>(QLatin1String(name));
}

// Program folder set for one scope, restored afterwards.
class ProgramFolderAt {
public:
    explicit ProgramFolderAt(const QString& folder) { SetProgramFolder(folder); }
    ~ProgramFolderAt() { SetProgramFolder(QString()); }
};

TEST(WindowStartup, DefaultsWithoutInfoFile) {
    TestFolder folder;
    frmConverter window;
    EXPECT_EQ(window.Text(FormView::Box::spath), folder.Path() + "/");
    EXPECT_EQ(window.Text(FormView::Box::ipath), folder.Path() + "/.bmp");
    EXPECT_EQ(window.Text(FormView::Box::txtWidth), "0");
    EXPECT_EQ(window.Text(FormView::Box::txtStart), "0");
    EXPECT_TRUE(window.SplitSelected());
    EXPECT_FALSE(window.CompileSelected());
    EXPECT_EQ(child<QPushButton>(window, "Command1")->text(), "Convert");
    EXPECT_TRUE(child<QPushButton>(window, "Command1")->isEnabled());
    EXPECT_TRUE(window.TileWidth.isEmpty());
    EXPECT_TRUE(window.NumTileSurfs.isEmpty());
    EXPECT_TRUE(window.NumSpriteSurfs.isEmpty());
    // The boxes show what the window reports.
    EXPECT_EQ(child<QLineEdit>(window, "spath")->text(), folder.Path() + "/");
    EXPECT_EQ(child<QLineEdit>(window, "ipath")->text(), folder.Path() + "/.bmp");
}

struct WidthCase {
    const char* name;
    QByteArray ini;
    QString shown;
};

TEST(WindowStartup, WidthFromInfoFileIsNormalised) {
    const WidthCase cases[] = {
        {"plain", "[MAIN]\r\nWidth=12\r\n", "12"},
        {"leading blanks", "[MAIN]\r\nWidth=  12\r\n", "12"},
        {"trailing letters", "[MAIN]\r\nWidth=12abc\r\n", "12"},
        {"trailing zero", "[MAIN]\r\nWidth=7.50\r\n", "7.5"},
        {"no number", "[MAIN]\r\nWidth=abc\r\n", "0"},
        {"empty value", "[MAIN]\r\nWidth=\r\n", "0"},
        {"negative", "[MAIN]\r\nWidth=-3\r\n", "-3"},
        {"hexadecimal", "[MAIN]\r\nWidth=&H10\r\n", "16"},
        {"blanks inside", "[MAIN]\r\nWidth=1 2\r\n", "12"},
        {"key in other case", "[main]\nwidth=9\n", "9"},
        {"other section only", "[OTHER]\r\nWidth=12\r\n", "0"},
        {"other key only", "[MAIN]\r\nNumFiles=12\r\n", "0"},
    };
    for (const WidthCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestFolder folder;
        WriteBytes(folder.File("info.ini"), c.ini);
        frmConverter window;
        EXPECT_EQ(window.Text(FormView::Box::txtWidth), c.shown);
        // The other defaults do not depend on the file.
        EXPECT_EQ(window.Text(FormView::Box::txtStart), "0");
        EXPECT_EQ(window.Text(FormView::Box::spath), folder.Path() + "/");
    }
}

TEST(WindowStartup, WidthUsesTheRegionalDecimalSeparator) {
    const char* comma = CommaLocale();
    if (comma == nullptr) {
        GTEST_SKIP() << "no locale with a decimal comma on this machine";
    }
    NumericLocale locale(comma);
    ASSERT_TRUE(locale.Available());
    TestFolder folder;
    // The file always holds ".", the box shows the user's separator.
    WriteBytes(folder.File("info.ini"), "[MAIN]\r\nWidth=7.50\r\n");
    frmConverter window;
    EXPECT_EQ(window.Text(FormView::Box::txtWidth), "7,5");
}

TEST(WindowStartup, DefaultsInTheRootFolderKeepBothSeparators) {
    ProgramFolderAt root(QStringLiteral("/"));
    frmConverter window;
    EXPECT_EQ(window.Text(FormView::Box::spath), "//");
    EXPECT_EQ(window.Text(FormView::Box::ipath), "//.bmp");
}

TEST(WindowStartup, FolderWithNonAsciiName) {
    TestFolder base;
    const QString folder = base.File(QStringLiteral("タイル é"));
    ASSERT_TRUE(QDir().mkpath(folder));
    WriteBytes(folder + "/info.ini", "[MAIN]\r\nWidth=5\r\n");
    ProgramFolderAt at(folder);
    frmConverter window;
    EXPECT_EQ(window.Text(FormView::Box::spath), folder + "/");
    EXPECT_EQ(window.Text(FormView::Box::ipath), folder + "/.bmp");
    EXPECT_EQ(window.Text(FormView::Box::txtWidth), "5");
}

TEST(WindowLayout, CaptionSizeAndBorder) {
    TestFolder folder;
    frmConverter window;
    EXPECT_EQ(window.windowTitle(), "Tilvex Converter v.04 (1-14-09)");
    EXPECT_EQ(window.objectName(), "frmConverter");
    EXPECT_EQ(window.size(), QSize(335, 128));
    EXPECT_EQ(window.minimumSize(), QSize(335, 128));
    EXPECT_EQ(window.maximumSize(), QSize(335, 128));
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(window.isWindow());
    ASSERT_FALSE(window.windowIcon().isNull());
    EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(32, 32)));

    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QPoint screenCentre = window.screen()->availableGeometry().center();
    const QPoint windowCentre = window.frameGeometry().center();
    EXPECT_LE(std::abs(windowCentre.x() - screenCentre.x()), 20);
    EXPECT_LE(std::abs(windowCentre.y() - screenCentre.y()), 20);
}

struct ControlCase {
    const char* name;
    QRect geometry;
    double points;  // 0: no font of its own
};

TEST(WindowLayout, ControlsSitWhereDesigned) {
    const ControlCase cases[] = {
        {"txtWidth", {152, 104, 41, 19}, 8.25},  {"txtStart", {152, 80, 41, 19}, 8.25},
        {"picBack", {40, 136, 224, 224}, 0},     {"optCompile", {256, 80, 73, 17}, 9},
        {"optSplit", {200, 80, 57, 17}, 9},      {"Command2", {304, 16, 25, 17}, 8.25},
        {"spath", {8, 56, 321, 19}, 8.25},       {"ipath", {8, 16, 289, 19}, 8.25},
        {"Command1", {232, 96, 97, 25}, 8.25},   {"pic2", {8, 80, 32, 32}, 0},
        {"pic", {8, 80, 32, 32}, 0},
    };
    TestFolder folder;
    frmConverter window;
    for (const ControlCase& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget* widget = child(window, c.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget(), &window);
        EXPECT_EQ(widget->geometry(), c.geometry);
        if (c.points > 0) {
            EXPECT_EQ(widget->font().family(), "Verdana");
            EXPECT_DOUBLE_EQ(widget->font().pointSizeF(), c.points);
            EXPECT_EQ(widget->font().weight(), QFont::Normal);
            EXPECT_FALSE(widget->font().italic());
            EXPECT_FALSE(widget->font().underline());
            EXPECT_FALSE(widget->font().strikeOut());
        }
    }
    // Picture boxes draw into images of exactly their size.
    EXPECT_EQ(window.Image(FormView::Pic::pic).Image().size(), QSize(32, 32));
    EXPECT_EQ(window.Image(FormView::Pic::pic2).Image().size(), QSize(32, 32));
    EXPECT_EQ(window.Image(FormView::Pic::picBack).Image().size(), QSize(224, 224));
    EXPECT_NE(window.findChild<QObject*>(QStringLiteral("CD")), nullptr);
}

struct LabelCase {
    const char* name;
    const char* caption;
    QPoint topLeft;
};

TEST(WindowLayout, LabelsSizeThemselvesToTheirCaption) {
    const LabelCase cases[] = {
        {"Label2", "Width:", {48, 104}},
        {"Label3", "Source Path:", {8, 0}},
        {"Label1", "Start Number:", {48, 80}},
        {"Label4", "Destination:", {8, 40}},
    };
    TestFolder folder;
    frmConverter window;
    for (const LabelCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto* label = child<QLabel>(window, c.name);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), c.caption);
        EXPECT_EQ(label->pos(), c.topLeft);
        EXPECT_EQ(label->size(), label->sizeHint());
        EXPECT_EQ(label->font().family(), "Verdana");
        EXPECT_DOUBLE_EQ(label->font().pointSizeF(), 9.75);
        EXPECT_TRUE(label->toolTip().isEmpty());
        // The whole caption fits.
        EXPECT_GE(label->width(), QFontMetrics(label->font()).horizontalAdvance(label->text()));
    }
}

TEST(WindowLayout, CaptionsVisibilityAndTooltips) {
    TestFolder folder;
    frmConverter window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(child<QRadioButton>(window, "optSplit")->text(), "Split");
    EXPECT_EQ(child<QRadioButton>(window, "optCompile")->text(), "Compile");
    EXPECT_EQ(child<QPushButton>(window, "Command2")->text(), "...");
    EXPECT_FALSE(child(window, "pic2")->isVisible());
    EXPECT_TRUE(child(window, "pic")->isVisible());
    EXPECT_TRUE(child(window, "picBack")->isVisible());
    // At the design height the sheet canvas lies below the client area.
    EXPECT_TRUE(child(window, "picBack")->visibleRegion().isEmpty());

    const std::pair<const char*, const char*> tips[] = {
        {"txtStart", "This is the number that the output files will start from."},
        {"spath", "This is the path to the folder that the images will be saved to (every little one)"},
        {"ipath", "This is the image that you will be loading (the BIG one)"},
        {"txtWidth", ""}, {"optCompile", ""}, {"optSplit", ""}, {"Command1", ""},
        {"Command2", ""}, {"pic", ""}, {"picBack", ""},
    };
    for (const auto& [name, tip] : tips) {
        SCOPED_TRACE(name);
        EXPECT_EQ(child(window, name)->toolTip(), QString::fromUtf8(tip));
    }
}

TEST(WindowLayout, TabKeyFollowsTheTabIndexes) {
    TestFolder folder;
    frmConverter window;
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    // The first control that takes focus is the convert button (tab index 2).
    EXPECT_EQ(QApplication::focusWidget(), child(window, "Command1"));

    // One stop for the option group: the selected button.
    const char* const expected[] = {"ipath", "spath", "Command2", "optSplit", "txtStart", "txtWidth", "Command1", "ipath"};
    QStringList seen;
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        seen.append(QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString());
    }
    QStringList want;
    for (const char* name : expected) {
        want.append(QString::fromLatin1(name));
    }
    EXPECT_EQ(seen, want);

    // With Compile selected, the group's stop is optCompile, from either side.
    child<QRadioButton>(window, "optCompile")->setChecked(true);
    child(window, "Command2")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "optCompile");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "txtStart");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "optCompile");
    child<QRadioButton>(window, "optSplit")->setChecked(true);
    child(window, "txtStart")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "optSplit");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "Command2");
}

// An installed program starts its boxes in the user's Pictures folder and reads the width
// from the user's config folder.
TEST(WindowStartup, InstalledProgramStartsInPicturesWithTheUsersWidth) {
    TestFolder folder;
    const ScopedEnv home("HOME", folder.File("home"));
    const ScopedEnv config("XDG_CONFIG_HOME", folder.File("config"));
    ASSERT_TRUE(QDir().mkpath(folder.File("home/Pictures")));
    ASSERT_TRUE(QDir().mkpath(folder.File("config/tilvex")));
    WriteBytes(folder.File("config/tilvex/info.ini"), "[MAIN]\r\nWidth=9\r\n");
    const ReadOnlyFolder prog(folder.File("prog"), "");
    if (!prog.Available()) {
        GTEST_SKIP() << "no folder can be made unwritable here";
    }
    ProgramFolderAt at(folder.File("prog"));
    frmConverter window;
    EXPECT_EQ(window.Text(FormView::Box::spath), folder.File("home/Pictures/"));
    EXPECT_EQ(window.Text(FormView::Box::ipath), folder.File("home/Pictures/.bmp"));
    EXPECT_EQ(window.Text(FormView::Box::txtWidth), "9");
}

}  // namespace
