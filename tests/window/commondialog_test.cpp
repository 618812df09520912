// The common-dialog control on its own: filter syntax, flags and what cancel leaves.
#include "window/commondialog.h"

#include "modaldriver.h"
#include "support/testsupport.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

struct FilterCase {
    const char* name;
    QString filter;
    QStringList nameFilters;
};

TEST(CommonDialog, FilterSyntax) {
    const FilterCase cases[] = {
        {"one entry", "Bitmap|*.bmp", {"Bitmap (*.bmp)"}},
        {"two entries", "Bitmap|*.bmp|All files|*.*", {"Bitmap (*.bmp)", "All files (*.*)"}},
        {"several patterns", "Pictures|*.bmp;*.dib", {"Pictures (*.bmp *.dib)"}},
        {"blanks around patterns", "Pictures| *.bmp ; *.dib ", {"Pictures (*.bmp *.dib)"}},
        {"empty", "", {}},
        {"description only", "Bitmap", {}},
        {"empty pattern", "Bitmap|", {}},
        {"unpaired last description", "Bitmap|*.bmp|All", {"Bitmap (*.bmp)"}},
        {"non-ASCII description", "Bilder é|*.bmp", {"Bilder é (*.bmp)"}},
    };
    for (const FilterCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CommonDialog::NameFilters(c.filter), c.nameFilters);
    }
}

void typeAndOpen(QFileDialog* dialog, const QString& name) {
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    auto* box = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(box, nullptr);
    edit->setText(name);
    QTest::mouseClick(box->button(QDialogButtonBox::Open), Qt::LeftButton);
}

TEST(CommonDialog, CancelLeavesTheFileNameAsSet) {
    TestFolder folder;
    WriteBytes(folder.File("keep.bmp"), "BM");
    const QString names[] = {"", folder.File("keep.bmp"), "keep.bmp", "not a file at all"};
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        CommonDialog cd;
        cd.Filter = "Bitmap|*.bmp";
        cd.InitDir = folder.Path();
        cd.Flags = CommonDialog::FileMustExist;
        cd.FileName = name;
        NextModal<QFileDialog> driver([](QFileDialog* dialog) { dialog->reject(); });
        cd.ShowOpen(nullptr);
        EXPECT_TRUE(driver.Fired());
        EXPECT_EQ(cd.FileName, name);
    }
}

TEST(CommonDialog, TitleAndPresetName) {
    TestFolder folder;
    WriteBytes(folder.File("preset.bmp"), "BM");
    CommonDialog cd;
    cd.InitDir = folder.Path();
    cd.FileName = "preset.bmp";
    QString title, shownName;
    NextModal<QFileDialog> driver([&](QFileDialog* dialog) {
        title = dialog->windowTitle();
        shownName = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
        // Confirming the preset name as it stands.
        QTest::mouseClick(dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Open),
                          Qt::LeftButton);
        if (dialog->isVisible()) {
            dialog->reject();
        }
    });
    cd.ShowOpen(nullptr);
    EXPECT_EQ(title, "Open");  // no title set: the dialog's usual one
    EXPECT_EQ(shownName, "preset.bmp");
    EXPECT_EQ(cd.FileName, folder.File("preset.bmp"));
}

struct FlagsCase {
    const char* name;
    int flags;
    bool accepted;
};

TEST(CommonDialog, OnlyTheMustExistFlagRefusesANewName) {
    const FlagsCase cases[] = {
        {"no flags", 0, true},
        {"must exist", 4096, false},
        {"must exist among others", 4096 | 4 | 2048, false},
        {"other flags only", 4 | 2048, true},
    };
    for (const FlagsCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestFolder folder;
        CommonDialog cd;
        cd.Filter = "Bitmap|*.bmp";
        cd.InitDir = folder.Path();
        cd.Flags = c.flags;
        NextModal<QFileDialog> driver([](QFileDialog* dialog) {
            typeAndOpen(dialog, "new.bmp");
            if (dialog->isVisible()) {
                dialog->reject();
            }
        });
        cd.ShowOpen(nullptr);
        EXPECT_TRUE(driver.Fired());
        EXPECT_EQ(cd.FileName, c.accepted ? folder.File("new.bmp") : QString());
        // Choosing a name creates no file.
        EXPECT_FALSE(QFileInfo::exists(folder.File("new.bmp")));
    }
}

}  // namespace
