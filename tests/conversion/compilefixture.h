#pragma once

// A converter on a headless window with fresh records, a program folder and a tile folder,
// for the compile tests.

#include "conversion/converter.h"
#include "conversion/headlessform.h"
#include "imaging/picture.h"
#include "support/testsupport.h"
#include "support/tilefixtures.h"
#include "surfaces/modrecs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

inline const QString kMissingInfo =
    QStringLiteral("Tilvex converter could not locate your tile information (info.ini) file.");

class Compile : public FreshRecords {
protected:
    using Box = FormView::Box;
    using Cells = std::vector<std::vector<int>>;

    void Run(const QString& source, const QString& destination, const QString& start, const QString& width) {
        form.SelectSplit(false);
        form.SetText(Box::ipath, source);
        form.SetText(Box::spath, destination);
        form.SetText(Box::txtStart, start);
        form.SetText(Box::txtWidth, width);
        converter.Command1_Click();
    }
    QString Tiles() const { return program.File("tiles"); }
    QString Out() const { return program.File("out"); }
    QString Sheet() const { return program.File("out/Tiles.bmp"); }
    const QImage& Canvas() { return form.Image(FormView::Pic::picBack).Image(); }
    void SetUp() override {
        FreshRecords::SetUp();
        QDir().mkpath(Out());
    }

    TestFolder program;
    MessageRecorder messages;
    HeadlessForm form;
    Converter converter{form};
    ReadCounter reads;
};
