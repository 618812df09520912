// The browse button: the file-open dialog in Split mode, the folder picker in Compile mode.
#include "shownwindow.h"
#include "window/folderpicker.h"
#include "window/frmconverter.h"

#include "modaldriver.h"
#include "support/testsupport.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

namespace {

QLineEdit* fileNameEdit(QFileDialog* dialog) { return dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")); }

QPushButton* openButton(QFileDialog* dialog) {
    auto* box = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    return box ? box->button(QDialogButtonBox::Open) : nullptr;
}

// Drives the next file dialog with the action, then makes sure it is closed.
class FileDialogDriver {
public:
    explicit FileDialogDriver(std::function<void(QFileDialog*)> action)
        : driver_([action](QFileDialog* dialog) {
              action(dialog);
              if (dialog->isVisible()) {
                  dialog->reject();
              }
          }) {}
    bool Fired() const { return driver_.Fired(); }

private:
    NextModal<QFileDialog> driver_;
};

// Types a name into the dialog and presses its Open button, as a user would.
void typeAndOpen(QFileDialog* dialog, const QString& name) {
    QLineEdit* edit = fileNameEdit(dialog);
    QPushButton* open = openButton(dialog);
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(open, nullptr);
    edit->setText(name);
    QTest::mouseClick(open, Qt::LeftButton);
}

class BrowseTest : public ShownWindow {
protected:
    void clickBrowse() { QTest::mouseClick(child<QPushButton>("Command2"), Qt::LeftButton); }
};

TEST_F(BrowseTest, SplitOpensTheBitmapDialogInTheProgramFolder) {
    WriteBytes(folder_.File("big.bmp"), "BM");
    QString title, directory;
    QStringList filters;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    bool ownDialog = false;
    bool modal = false;
    QString prefilled = "?";
    FileDialogDriver driver([&](QFileDialog* dialog) {
        title = dialog->windowTitle();
        directory = dialog->directory().absolutePath();
        filters = dialog->nameFilters();
        mode = dialog->fileMode();
        ownDialog = dialog->testOption(QFileDialog::DontUseNativeDialog);
        modal = dialog->isModal();
        prefilled = fileNameEdit(dialog) ? fileNameEdit(dialog)->text() : "?";
        dialog->reject();
    });
    clickBrowse();
    ASSERT_TRUE(driver.Fired());
    EXPECT_EQ(title, "Load");
    EXPECT_EQ(directory, folder_.Path());
    EXPECT_EQ(filters, QStringList{"Bitmap (*.bmp)"});
    EXPECT_EQ(mode, QFileDialog::ExistingFile);
    EXPECT_TRUE(ownDialog);
    EXPECT_TRUE(modal);
    EXPECT_EQ(prefilled, "");
    // The control keeps the settings it was given.
    EXPECT_EQ(window_->CD().Filter, "Bitmap|*.bmp");
    EXPECT_EQ(window_->CD().DialogTitle, "Load");
    EXPECT_EQ(window_->CD().InitDir, folder_.Path());
    EXPECT_EQ(window_->CD().Flags, 4096);
}

TEST_F(BrowseTest, SplitPutsExactlyTheChosenPathInTheSource) {
    const QString names[] = {"big.bmp", "with blanks.bmp", "é.bmp", "タイル.bmp", "sub folder/タイル é.bmp"};
    ASSERT_TRUE(QDir().mkpath(folder_.File("sub folder")));
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QString path = folder_.File(name);
        WriteBytes(path, "BM");
        ipath()->setText("before");
        FileDialogDriver driver([&](QFileDialog* dialog) { typeAndOpen(dialog, name); });
        clickBrowse();
        EXPECT_TRUE(driver.Fired());
        EXPECT_EQ(ipath()->text(), path);
    }
    // A full path typed in the name box works as well.
    const QString elsewhere = folder_.File("sub folder/big.bmp");
    WriteBytes(elsewhere, "BM");
    FileDialogDriver driver([&](QFileDialog* dialog) { typeAndOpen(dialog, elsewhere); });
    clickBrowse();
    EXPECT_EQ(ipath()->text(), elsewhere);
}

TEST_F(BrowseTest, SplitCancelEmptiesTheSource) {
    WriteBytes(folder_.File("big.bmp"), "BM");
    const QString befores[] = {folder_.Path() + "/.bmp", "/art/big.bmp", ""};
    for (const QString& before : befores) {
        SCOPED_TRACE(before.toStdString());
        ipath()->setText(before);
        FileDialogDriver driver([](QFileDialog* dialog) {
            // Even with a name typed, cancel gives nothing back.
            fileNameEdit(dialog)->setText("big.bmp");
            dialog->reject();
        });
        clickBrowse();
        EXPECT_TRUE(driver.Fired());
        EXPECT_EQ(ipath()->text(), "");
    }
}

TEST_F(BrowseTest, SplitRefusesAFileThatDoesNotExist) {
    ipath()->setText("before");
    bool openEnabled = true;
    bool stillOpen = false;
    QString warning;
    FileDialogDriver driver([&](QFileDialog* dialog) {
        fileNameEdit(dialog)->setText("nothere.bmp");
        openEnabled = openButton(dialog)->isEnabled();
        QTest::mouseClick(openButton(dialog), Qt::LeftButton);
        // Forcing the accept does not close the dialog either; it warns instead.
        NextModal<QMessageBox> closeWarning([&](QMessageBox* box) {
            warning = box->text();
            box->accept();
        }, dialog);
        static_cast<QDialog*>(dialog)->accept();
        stillOpen = dialog->isVisible();
        dialog->reject();
    });
    clickBrowse();
    EXPECT_TRUE(driver.Fired());
    EXPECT_FALSE(openEnabled);
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(warning.contains("nothere.bmp")) << warning.toStdString();
    EXPECT_EQ(ipath()->text(), "");
    EXPECT_FALSE(QFileInfo::exists(folder_.File("nothere.bmp")));
}

TEST_F(BrowseTest, SplitOffersOnlyBitmaps) {
    WriteBytes(folder_.File("a.bmp"), "BM");
    WriteBytes(folder_.File("b.png"), "PNG");
    WriteBytes(folder_.File("c.bmp.txt"), "text");
    WriteBytes(folder_.File("info.ini"), "[MAIN]");
    WriteBytes(folder_.File("Errors.Logx"), "");
    ASSERT_TRUE(QDir().mkpath(folder_.File("tiles")));
    QStringList offered;
    FileDialogDriver driver([&](QFileDialog* dialog) {
        auto* list = dialog->findChild<QListView*>(QStringLiteral("listView"));
        ASSERT_NE(list, nullptr);
        auto names = [&] {
            QStringList result;
            for (int row = 0; row < list->model()->rowCount(list->rootIndex()); ++row) {
                result.append(list->model()->index(row, 0, list->rootIndex()).data().toString());
            }
            return result;
        };
        EXPECT_TRUE(QTest::qWaitFor([&] { return names().contains("a.bmp") && names().contains("tiles"); }));
        QTest::qWait(50);  // let a late batch of entries arrive too
        offered = names();
        dialog->reject();
    });
    clickBrowse();
    offered.sort();
    // Folders stay to browse into.
    EXPECT_EQ(offered, QStringList({"a.bmp", "tiles"}));
}

TEST_F(BrowseTest, CompileOpensThePickerOnTheProgramFolder) {
    child<QRadioButton>("optCompile")->setChecked(true);
    QString instruction, selected, status;
    QWidget* owner = nullptr;
    NextModal<FolderPicker> driver([&](FolderPicker* picker) {
        instruction = picker->findChild<QLabel*>(QStringLiteral("instruction"))->text();
        status = picker->findChild<QLabel*>(QStringLiteral("status"))->text();
        selected = picker->SelectedPath();
        owner = picker->parentWidget();
        picker->reject();
    });
    clickBrowse();
    ASSERT_TRUE(driver.Fired());
    EXPECT_EQ(instruction, "Select A Directory");
    EXPECT_EQ(selected, folder_.Path());
    EXPECT_EQ(status, folder_.Path());
    EXPECT_EQ(owner, window_.get());
}

TEST_F(BrowseTest, CompilePutsTheChosenFolderWithASeparator) {
    child<QRadioButton>("optCompile")->setChecked(true);
    const QString names[] = {"tiles", "my tiles", "é", "タイル", "タイル é/deeper"};
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QString chosen = folder_.File(name);
        ASSERT_TRUE(QDir().mkpath(chosen));
        ipath()->setText("before");
        NextModal<FolderPicker> driver([&](FolderPicker* picker) {
            auto* tree = picker->findChild<QTreeView*>(QStringLiteral("folderTree"));
            auto* model = qobject_cast<QFileSystemModel*>(tree->model());
            tree->setCurrentIndex(model->index(chosen));
            QTest::mouseClick(picker->findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
            if (picker->isVisible()) {
                picker->reject();
            }
        });
        clickBrowse();
        EXPECT_TRUE(driver.Fired());
        EXPECT_EQ(ipath()->text(), chosen + "/");
    }
    // Confirming the program folder as it was offered.
    NextModal<FolderPicker> driver([](FolderPicker* picker) { picker->accept(); });
    clickBrowse();
    EXPECT_EQ(ipath()->text(), folder_.Path() + "/");
}

TEST_F(BrowseTest, CompileCancelKeepsTheSource) {
    child<QRadioButton>("optCompile")->setChecked(true);
    const QString befores[] = {"/art/tiles/", "", "0"};
    for (const QString& before : befores) {
        SCOPED_TRACE(before.toStdString());
        ipath()->setText(before);
        NextModal<FolderPicker> driver([](FolderPicker* picker) {
            QTest::mouseClick(picker->findChild<QPushButton*>(QStringLiteral("cancel")), Qt::LeftButton);
        });
        clickBrowse();
        EXPECT_TRUE(driver.Fired());
        EXPECT_EQ(ipath()->text(), before);
    }
}

TEST_F(BrowseTest, BrowsingChangesNothingButTheSource) {
    ipath()->setText("/art/big.bmp");
    const QString spath = child<QLineEdit>("spath")->text();
    FileDialogDriver driver([](QFileDialog* dialog) { dialog->reject(); });
    MessageRecorder messages;
    clickBrowse();
    EXPECT_TRUE(messages.Messages().isEmpty());
    EXPECT_EQ(child<QLineEdit>("spath")->text(), spath);
    EXPECT_EQ(child<QLineEdit>("txtWidth")->text(), "0");
    EXPECT_EQ(child<QPushButton>("Command1")->text(), "Convert");
    EXPECT_TRUE(child<QRadioButton>("optSplit")->isChecked());
}

}  // namespace
