#pragma once

#include "support/bitmapwriter.h"
#include "support/testsupport.h"
#include "window/frmconverter.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

struct Result {
    int status = -1;
    QString out;
    QString err;
};

// The batch program copied into a test folder, so that folder is its program folder and
// holds its Errors.Log and info.ini.
class Tilvex : public ::testing::Test {
protected:
    void SetUp() override {
        program_ = folder_.File("tilvex");
        ASSERT_TRUE(QFile::copy(QStringLiteral(TILVEX_PROGRAM), program_));
        QFile(program_).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const BitmapLayout layout;
        WriteBytes(folder_.File("big.bmp"), EncodeBitmap(PatternImage(100, 70, layout), layout));
    }

    Result Run(const QStringList& arguments) { return RunWrapped({}, arguments); }

    // The program started through another, such as a shell that sets a limit first; the
    // wrapper's last word is followed by the program and its arguments.
    Result RunWrapped(const QStringList& wrapper, const QStringList& arguments) {
        QProcess process;
        const QStringList words = wrapper + QStringList{program_} + arguments;
        process.setProgram(words.front());
        process.setArguments(words.mid(1));
        process.start();
        EXPECT_TRUE(process.waitForFinished(120000));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromLocal8Bit(process.readAllStandardOutput()),
                QString::fromLocal8Bit(process.readAllStandardError())};
    }

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
    QString program_;
};

