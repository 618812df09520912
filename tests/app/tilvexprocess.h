#pragma once

#include "support/bitmapwriter.h"
#include "support/testsupport.h"
#include "tilvexrun.h"
#include "window/frmconverter.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

using Result = TilvexResult;

// The batch program in a test folder beside a 100 by 70 bitmap, and the window to compare it with.
class Tilvex : public ::testing::Test {
protected:
    void SetUp() override {
        const BitmapLayout layout;
        WriteBytes(folder_.File("big.bmp"), EncodeBitmap(PatternImage(100, 70, layout), layout));
    }

    Result Run(const QStringList& arguments) { return tilvex_.Run(arguments); }
    Result RunWrapped(const QStringList& wrapper, const QStringList& arguments) { return tilvex_.Run(arguments, wrapper); }

    // The same conversion through the converter window.
    void RunWindow(bool split, const QString& source, const QString& destination, const QString& start,
                   const QString& width = {}) {
        MessageRecorder messages;
        frmConverter window;
        window.SetText(FormView::Box::ipath, source);
        window.SetText(FormView::Box::spath, destination);
        window.SetText(FormView::Box::txtStart, start);
        if (!width.isEmpty()) {
            window.SetText(FormView::Box::txtWidth, width);
        }
        window.findChild<QWidget*>(split ? "optSplit" : "optCompile")->setProperty("checked", true);
        window.converter().Command1_Click();
    }

    int LogEntries() const {
        return static_cast<int>(ReadBytes(folder_.File("Errors.Log")).count("-------------------------------\r\n"));
    }

    TestFolder folder_;
    TilvexProgram tilvex_{folder_};
    const QString program_ = tilvex_.Path();
};
