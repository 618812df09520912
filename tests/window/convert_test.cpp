// The convert button through the real window: input checks, the button during a run, and
// the window height that the conversions set.
#include "shownwindow.h"
#include "window/frmconverter.h"

#include "runtime/messagebox.h"
#include "runtime/runtimeerror.h"
#include "support/testsupport.h"
#include "surfaces/formview.h"
#include "window/picturebox.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

class ConvertTest : public ShownWindow {
protected:
    void setMode(bool split) { (split ? optSplit() : optCompile())->setChecked(true); }
    void clickConvert() { QTest::mouseClick(command1(), Qt::LeftButton); }
};

struct CheckCase {
    const char* name;
    bool split;
    QString source;
    QString destination;
    QString message;
};

TEST_F(ConvertTest, InputChecksShowOneMessageInPriorityOrder) {
    const QString out = folder_.File("out/");
    const CheckCase cases[] = {
        {"both empty", true, "", "", "Source path can not be blank!"},
        {"both empty, Compile", false, "", "", "Source path can not be blank!"},
        {"source empty, wrong kind of destination", true, "", "x.png", "Source path can not be blank!"},
        {"destination empty", true, "/art/big.bmp", "", "Destination path can not be blank!"},
        {"destination empty and source of the wrong kind", true, "/art/big.BMP", "",
         "Destination path can not be blank!"},
        {"Split, upper-case extension", true, "/art/big.BMP", out, "Source path should be a .bmp image."},
        {"Split, folder", true, "/art/tiles/", out, "Source path should be a .bmp image."},
        {"Split, short text", true, "bmp", out, "Source path should be a .bmp image."},
        {"Split, blank after the name", true, "/art/big.bmp ", out, "Source path should be a .bmp image."},
        {"Compile, bitmap", false, "/art/big.bmp", out, "Source path should be a folder not an image."},
        {"Compile, only the extension", false, ".bmp", out, "Source path should be a folder not an image."},
    };
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.name);
        setMode(c.split);
        setText("ipath", c.source);
        setText("spath", c.destination);
        const QString caption = command1()->text();
        MessageRecorder messages;
        clickConvert();
        EXPECT_EQ(messages.Messages(), QStringList{c.message});
        // The checks leave the boxes and the button alone.
        EXPECT_EQ(text("ipath"), c.source);
        EXPECT_EQ(text("spath"), c.destination);
        EXPECT_EQ(command1()->text(), caption);
        EXPECT_TRUE(command1()->isEnabled());
        EXPECT_EQ(window_->height(), 128);
    }
    // Nothing was started: no destination folder, no log.
    EXPECT_FALSE(QFileInfo::exists(out));
    EXPECT_FALSE(QFileInfo::exists(folder_.File("Errors.Log")));
}

struct WidthCase {
    QString width;
    QString tileWidth;
    int canvasWidth;
};

TEST_F(ConvertTest, RowWidthIsTakenBeforeThePathChecks) {
    const WidthCase cases[] = {
        {"3", "3", 96}, {"abc", "0", 0}, {"", "0", 0}, {"  7 ", "7", 224}, {"2.5", "2.5", 80}, {"12abc", "12", 384},
    };
    for (const WidthCase& c : cases) {
        SCOPED_TRACE(c.width.toStdString());
        setText("txtWidth", c.width);
        setText("ipath", "");
        MessageRecorder messages;
        clickConvert();
        EXPECT_EQ(messages.Messages(), QStringList{"Source path can not be blank!"});
        EXPECT_EQ(window_->TileWidth, c.tileWidth);
        EXPECT_EQ(window_->Image(FormView::Pic::picBack).Width(), c.canvasWidth);
        EXPECT_EQ(child("picBack")->width(), c.canvasWidth);
        // The width box itself is left as typed.
        EXPECT_EQ(text("txtWidth"), c.width);
    }
}

TEST_F(ConvertTest, AWidthBeyondAnyCanvasStartsNothingAndKeepsTheWindowUsable) {
    const QString widths[] = {"1e999", "99999999"};
    for (const QString& width : widths) {
        SCOPED_TRACE(width.toStdString());
        setText("txtWidth", width);
        setText("ipath", folder_.File("big.bmp"));
        setText("spath", folder_.File("out/"));
        MessageRecorder messages;
        clickConvert();
        EXPECT_EQ(messages.Messages().size(), 1);
        EXPECT_TRUE(command1()->isEnabled());
        EXPECT_EQ(command1()->text(), "Convert");
        EXPECT_FALSE(QFileInfo::exists(folder_.File("out")));
        EXPECT_FALSE(QFileInfo::exists(folder_.File("Errors.Log")));
    }
}

TEST_F(ConvertTest, CompileAddsTheFolderSeparatorBeforeTheRun) {
    const QString tiles = folder_.File("tiles");
    ASSERT_TRUE(QDir().mkpath(tiles));
    const std::pair<QString, QString> cases[] = {
        {tiles, tiles + "/"},
        {tiles + "/", tiles + "/"},
        {tiles + "//", tiles + "//"},
    };
    for (const auto& [before, after] : cases) {
        SCOPED_TRACE(before.toStdString());
        setMode(false);
        setText("ipath", before);
        setText("spath", folder_.Path() + "/");
        MessageRecorder messages;
        clickConvert();
        EXPECT_EQ(text("ipath"), after);
        EXPECT_EQ(command1()->text(), "Convert");
        EXPECT_TRUE(command1()->isEnabled());
    }
}

// The button's state each time the run shows a message.
struct ButtonSeen {
    bool enabled;
    QString caption;
};

TEST_F(ConvertTest, ButtonIsLockedWhileARunShowsAMessage) {
    setText("ipath", folder_.File("missing.bmp"));
    setText("spath", folder_.File("out/"));
    std::vector<ButtonSeen> seen;
    QStringList messages;
    SetMessageBoxHandler([&](const QString& message) {
        messages.append(message);
        seen.push_back({command1()->isEnabled(), command1()->text()});
    });
    clickConvert();
    SetMessageBoxHandler(nullptr);
    ASSERT_EQ(messages, QStringList{"Source path does not exist!"});
    EXPECT_FALSE(seen.at(0).enabled);
    EXPECT_EQ(seen.at(0).caption, "Converting...");
    EXPECT_TRUE(command1()->isEnabled());
    EXPECT_EQ(command1()->text(), "Convert");
    // A missing source leaves the window height alone.
    EXPECT_EQ(window_->height(), 128);
}

QImage stripes(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, qRgb((x / 32) * 80 + 20, (y / 32) * 90 + 30, (x + y) % 256));
        }
    }
    return image;
}

TEST_F(ConvertTest, SplitRunLocksTheButtonWhileTheWindowProcessesMessages) {
    const QImage big = stripes(96, 64);
    ASSERT_TRUE(big.save(folder_.File("big.bmp"), "BMP"));
    setText("ipath", folder_.File("big.bmp"));
    setText("spath", folder_.File("out"));
    setText("txtStart", "0");

    // Look at the button from inside the run: a timer fires whenever the window processes
    // messages, and re-arms itself until the run is over.
    std::vector<ButtonSeen> seen;
    bool running = true;
    std::function<void()> look = [&] {
        seen.push_back({command1()->isEnabled(), command1()->text()});
        if (running) {
            QTimer::singleShot(0, window_.get(), look);
        }
    };
    QTimer::singleShot(0, window_.get(), look);
    MessageRecorder messages;
    clickConvert();
    running = false;
    QTest::qWait(1);

    EXPECT_TRUE(messages.Messages().isEmpty());
    const bool sawLocked = std::any_of(seen.begin(), seen.end(), [](const ButtonSeen& s) {
        return !s.enabled && s.caption == "Converting...";
    });
    EXPECT_TRUE(sawLocked) << "the button was never seen locked during the run";
    // While it was enabled during the run it read "Convert" or "Split", never anything else.
    for (const ButtonSeen& s : seen) {
        if (s.enabled) {
            EXPECT_NE(s.caption, "Converting...");
        }
    }
    EXPECT_TRUE(command1()->isEnabled());
    EXPECT_EQ(command1()->text(), "Convert");
    // Six tiles cut; the canvas shows the last one; the window ends at the bottom of pic.
    for (int n = 0; n < 6; ++n) {
        EXPECT_TRUE(QFileInfo::exists(folder_.File(QStringLiteral("out/%1.bmp").arg(n)))) << n;
    }
    EXPECT_EQ(window_->Image(FormView::Pic::pic).Image().convertToFormat(QImage::Format_RGB32), big.copy(64, 32, 32, 32));
    EXPECT_EQ(window_->height(), 112);
    EXPECT_EQ(child("pic")->geometry().bottom() + 1, window_->height());
    EXPECT_FALSE(child("pic2")->isVisible());
}

TEST_F(ConvertTest, AFailedRunReleasesTheButton) {
    WriteBytes(folder_.File("broken.bmp"), "this is no picture");
    setText("ipath", folder_.File("broken.bmp"));
    setText("spath", folder_.File("out/"));
    setMode(true);
    MessageRecorder messages;
    clickConvert();
    // Only the box that says the run failed, shown once the button is released.
    ASSERT_EQ(messages.Messages().size(), 1);
    EXPECT_TRUE(messages.Messages().front().startsWith("The conversion failed.")) << messages.Messages().front().toStdString();
    EXPECT_TRUE(command1()->isEnabled());
    EXPECT_EQ(command1()->text(), "Convert");
    EXPECT_TRUE(QFileInfo::exists(folder_.File("Errors.Log")));
    EXPECT_FALSE(QFileInfo::exists(folder_.File("out/0.bmp")));
}

TEST_F(ConvertTest, CompileRunShowsTheSheetCanvasWhileItRuns) {
    // No info.ini in the source: the surface table says so in a message while the window
    // is enlarged.
    const QString tiles = folder_.File("tiles/");
    ASSERT_TRUE(QDir().mkpath(tiles));
    setMode(false);
    setText("ipath", tiles);
    setText("spath", folder_.Path() + "/");
    setText("txtWidth", "7");
    int heightSeen = -1;
    bool canvasShown = false;
    ButtonSeen button{true, QString()};
    QStringList messages;
    SetMessageBoxHandler([&](const QString& message) {
        messages.append(message);
        heightSeen = window_->height();
        canvasShown = !child("picBack")->visibleRegion().isEmpty();
        button = {command1()->isEnabled(), command1()->text()};
    });
    clickConvert();
    SetMessageBoxHandler(nullptr);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(heightSeen, 375 - frmConverter::DesignFrameHeight);
    EXPECT_TRUE(canvasShown);
    EXPECT_FALSE(button.enabled);
    EXPECT_EQ(button.caption, "Converting...");
    EXPECT_TRUE(command1()->isEnabled());
    EXPECT_EQ(command1()->text(), "Convert");
}

// A window whose message processing fails, as a platform call might.
class FailingWindow : public frmConverter {
public:
    void ShowAndDoEvents() override { RaiseError(Err::PermissionDenied); }
};

TEST(ConvertWindow, AFailureThatEscapesAHandlerIsReportedAndTheWindowLivesOn) {
    TestFolder folder;
    FailingWindow window;
    window.SetText(FormView::Box::ipath, folder.File("big.bmp"));
    window.SetText(FormView::Box::spath, folder.File("out/"));
    auto* button = window.findChild<QPushButton*>("Command1");
    for (int click = 0; click < 2; ++click) {
        SCOPED_TRACE(click);
        MessageRecorder messages;
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(messages.Messages(), QStringList{"Run-time error '70':\n\nPermission denied"});
        EXPECT_TRUE(button->isEnabled());
        EXPECT_FALSE(QFileInfo::exists(folder.File("out")));
    }
}

struct HeightCase {
    int twips;
    int clientHeight;
    bool canvasShown;
};

TEST_F(ConvertTest, OuterHeightInTwips) {
    const HeightCase cases[] = {
        {5625, 343, true}, {2160, 112, false}, {2400, 128, false}, {2175, 113, false},
        {480, 0, false},   {0, 0, false},     {7800, 488, true},
    };
    for (const HeightCase& c : cases) {
        SCOPED_TRACE(c.twips);
        window_->SetOuterHeight(c.twips);
        QTest::qWait(1);
        EXPECT_EQ(window_->height(), c.clientHeight);
        EXPECT_EQ(window_->minimumHeight(), c.clientHeight);
        EXPECT_EQ(window_->maximumHeight(), c.clientHeight);
        EXPECT_EQ(window_->width(), 335);
        EXPECT_EQ(!child("picBack")->visibleRegion().isEmpty(), c.canvasShown);
    }
    window_->SetOuterHeight(2160);
    EXPECT_EQ(child("pic")->geometry().bottom() + 1, window_->height());
}

TEST(ConvertWindow, ShowAndDoEventsBringsUpAHiddenWindow) {
    TestFolder folder;
    frmConverter window;
    EXPECT_FALSE(window.isVisible());
    window.ShowAndDoEvents();
    EXPECT_TRUE(window.isVisible());
    // Text and option state cross the interface both ways.
    window.SetText(FormView::Box::txtStart, "17");
    EXPECT_EQ(window.findChild<QLineEdit*>("txtStart")->text(), "17");
    window.findChild<QLineEdit*>("spath")->setText("/x/");
    EXPECT_EQ(window.Text(FormView::Box::spath), "/x/");
    window.SetConvertButton(false, "Busy");
    EXPECT_FALSE(window.findChild<QPushButton*>("Command1")->isEnabled());
    EXPECT_EQ(window.findChild<QPushButton*>("Command1")->text(), "Busy");
    // Drawing goes into the box's image and the box follows its size.
    window.Image(FormView::Pic::pic).SetSize(40, 20);
    EXPECT_EQ(window.findChild<PictureBox*>("pic")->size(), QSize(40, 20));
    window.Image(FormView::Pic::pic).Image().fill(Qt::red);
    window.Repaint(FormView::Pic::pic);
    EXPECT_EQ(window.findChild<PictureBox*>("pic")->grab().toImage().pixelColor(5, 5), QColor(Qt::red));
}

}  // namespace

// A second click that comes in while the first run lets pending messages through, before the
// button is disabled, starts no second run.
TEST_F(ConvertTest, ClickDuringTheRunStartsNoSecondRun) {
    MessageRecorder messages;
    setMode(true);
    setText("ipath", folder_.File("missing.bmp"));
    setText("spath", folder_.File("out"));
    bool inFirstRun = false;
    bool clickedInside = false;
    QTimer second;
    second.setSingleShot(true);
    second.setInterval(0);
    QObject::connect(&second, &QTimer::timeout, [&] {
        clickedInside = inFirstRun;
        clickConvert();
    });
    second.start();
    inFirstRun = true;
    clickConvert();
    inFirstRun = false;
    ASSERT_TRUE(clickedInside) << "the second click came after the run; nothing was tested";
    EXPECT_EQ(messages.Messages(), QStringList{"Source path does not exist!"});
}
