// What the window tells its user of a failed run, and the sources dropped onto it.
#include "shownwindow.h"

#include "records/errorlog.h"
#include "support/bitmapwriter.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

#include <vector>

namespace {

class Failures : public ShownWindow {};

struct FailureCase {
    const char* name;
    const char* content;  // of the source; nullptr: the source is missing
    const char* destination;
    std::vector<QString> inBox;
};

TEST_F(Failures, AFailedRunShowsOneBoxWithItsNumberFileAndLog) {
    WriteBytes(folder_.File("text.bmp"), "not a picture");
    WriteBytes(folder_.File("blocked"), "a file where the destination folder's parent should be");
    const BitmapLayout layout;
    WriteBytes(folder_.File("big.bmp"), EncodeBitmap(PatternImage(64, 32, layout), layout));
    const FailureCase cases[] = {
        {"a file that is no picture", "text.bmp", "out", {"Error 481: Invalid picture", folder_.File("text.bmp")}},
        {"a destination that cannot be made", "big.bmp", "blocked/out", {"Error 76", folder_.File("blocked/out")}},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        MessageRecorder boxes;
        optSplit()->setChecked(true);
        setText("ipath", folder_.File(c.content));
        setText("spath", folder_.File(c.destination));
        QTest::mouseClick(command1(), Qt::LeftButton);
        ASSERT_EQ(boxes.Messages().size(), 1);
        const QString& box = boxes.Messages().front();
        for (const QString& part : c.inBox) {
            EXPECT_TRUE(box.contains(part)) << box.toStdString();
        }
        EXPECT_TRUE(box.contains(ErrorLogPath())) << box.toStdString();
    }
    // The log keeps its entries as they were: one per failure, the window's own.
    const QByteArray log = ReadBytes(ErrorLogPath());
    EXPECT_EQ(log.count("File: frmConverter\r\nProcedure: Convert\r\n"), 2);
}

TEST_F(Failures, ARunThatWorksShowsNoBox) {
    const BitmapLayout layout;
    WriteBytes(folder_.File("big.bmp"), EncodeBitmap(PatternImage(64, 32, layout), layout));
    MessageRecorder boxes;
    optSplit()->setChecked(true);
    setText("ipath", folder_.File("big.bmp"));
    setText("spath", folder_.File("out"));
    QTest::mouseClick(command1(), Qt::LeftButton);
    EXPECT_TRUE(boxes.Messages().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(folder_.File("out/1.bmp")));
}

class Drops : public ShownWindow {
protected:
    // Drops the paths onto the window's source box; true when the window took them.
    bool drop(const QStringList& paths) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& path : paths) {
            urls += QUrl::fromLocalFile(path);
        }
        data.setUrls(urls);
        const QPoint at = ipath()->geometry().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window_.get(), &enter);
        if (!enter.isAccepted()) {
            return false;
        }
        QDropEvent dropped(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window_.get(), &dropped);
        return dropped.isAccepted();
    }
};

struct DropCase {
    const char* name;
    bool split;
    QStringList dropped;
    bool taken;
    QString source;  // the source box afterwards
};

TEST_F(Drops, APictureInSplitModeOrAFolderInCompileModeFillsTheSourceBox) {
    WriteBytes(folder_.File("big.bmp"), "any bytes: the run checks them");
    WriteBytes(folder_.File("notes.txt"), "text");
    ASSERT_TRUE(QDir(folder_.Path()).mkdir("tiles"));
    const QString before = QStringLiteral("typed");
    const DropCase cases[] = {
        {"bitmap, Split", true, {folder_.File("big.bmp")}, true, folder_.File("big.bmp")},
        {"folder, Compile", false, {folder_.File("tiles")}, true, folder_.File("tiles/")},
        {"folder, Split", true, {folder_.File("tiles")}, false, before},
        {"bitmap, Compile", false, {folder_.File("big.bmp")}, false, before},
        {"no bitmap, Split", true, {folder_.File("notes.txt")}, false, before},
        {"missing file, Split", true, {folder_.File("gone.bmp")}, false, before},
        {"two files, Split", true, {folder_.File("big.bmp"), folder_.File("big.bmp")}, false, before},
    };
    for (const DropCase& c : cases) {
        SCOPED_TRACE(c.name);
        (c.split ? optSplit() : optCompile())->setChecked(true);
        setText("ipath", before);
        EXPECT_EQ(drop(c.dropped), c.taken);
        EXPECT_EQ(text("ipath"), c.source);
    }
}

}  // namespace
