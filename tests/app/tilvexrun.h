#pragma once

#include "support/testsupport.h"

#include <QFile>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

// What one run of the batch program gave.
struct TilvexResult {
    int status = -1;
    QString out;
    QString err;
};

// The batch program copied into a test folder, so that folder is its program folder and
// holds its Errors.Log and info.ini.
class TilvexProgram {
public:
    explicit TilvexProgram(const TestFolder& folder) : program_(folder.File("tilvex")) {
        EXPECT_TRUE(QFile::copy(QStringLiteral(TILVEX_PROGRAM), program_));
        QFile(program_).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    const QString& Path() const { return program_; }

    // A wrapper, such as a shell that sets a limit first, runs the program: the wrapper's last
    // word is followed by the program and its arguments.
    TilvexResult Run(const QStringList& arguments, const QStringList& wrapper = {}) const {
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

private:
    QString program_;
};
