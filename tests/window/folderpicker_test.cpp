// The folder picker, driven through its real modal dialog.
#include "window/folderpicker.h"
#include "window/modbrowse.h"

#include "modaldriver.h"
#include "support/testsupport.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileSystemModel>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

namespace {

// The parts of an open picker, found by their names.
struct PickerParts {
    explicit PickerParts(FolderPicker* picker)
        : picker(picker),
          tree(picker->findChild<QTreeView*>(QStringLiteral("folderTree"))),
          model(tree ? qobject_cast<QFileSystemModel*>(tree->model()) : nullptr),
          status(picker->findChild<QLabel*>(QStringLiteral("status"))),
          instruction(picker->findChild<QLabel*>(QStringLiteral("instruction"))),
          ok(picker->findChild<QPushButton*>(QStringLiteral("ok"))),
          cancel(picker->findChild<QPushButton*>(QStringLiteral("cancel"))) {}

    bool Complete() const { return tree && model && status && instruction && ok && cancel; }
    QString Current() const { return model->filePath(tree->currentIndex()); }
    void Select(const QString& folder) const { tree->setCurrentIndex(model->index(folder)); }

    FolderPicker* picker;
    QTreeView* tree;
    QFileSystemModel* model;
    QLabel* status;
    QLabel* instruction;
    QPushButton* ok;
    QPushButton* cancel;
};

// Drives the next picker with the action, then makes sure it is closed.
class PickerDriver {
public:
    explicit PickerDriver(std::function<void(const PickerParts&)> action)
        : driver_([action](FolderPicker* picker) {
              const PickerParts parts(picker);
              EXPECT_TRUE(parts.Complete());
              if (parts.Complete()) {
                  action(parts);
              }
              if (picker->isVisible()) {
                  picker->reject();
              }
          }) {}
    bool Fired() const { return driver_.Fired(); }

private:
    NextModal<FolderPicker> driver_;
};

TEST(FolderPicker, CancelGivesTheEmptyText) {
    TestFolder folder;
    QString shownTitle;
    PickerDriver driver([&](const PickerParts& p) {
        shownTitle = p.instruction->text();
        QTest::mouseClick(p.cancel, Qt::LeftButton);
    });
    const QString title = QStringLiteral("Select A Directory");
    const QString initial = folder.Path();
    EXPECT_EQ(modBrowse::BrowseForFolder(nullptr, title, initial), "");
    EXPECT_TRUE(driver.Fired());
    EXPECT_EQ(shownTitle, title);
    // The picker's module string keeps the terminated initial folder after it closed.
    EXPECT_EQ(modBrowse::CurrentDirectory, initial + QChar(u'\0'));
    EXPECT_EQ(initial, folder.Path());
}

TEST(FolderPicker, OpensWithTheInitialFolderSelected) {
    TestFolder folder;
    ASSERT_TRUE(QDir().mkpath(folder.File("sub")));
    // Spellings of one folder: the picker selects the folder itself.
    const QString spellings[] = {folder.Path(), folder.Path() + "/", folder.Path() + "//", folder.File("sub/..")};
    for (const QString& initial : spellings) {
        SCOPED_TRACE(initial.toStdString());
        QString selected, status;
        bool okEnabled = false;
        PickerDriver driver([&](const PickerParts& p) {
            selected = p.Current();
            status = p.status->text();
            okEnabled = p.ok->isEnabled();
            QTest::mouseClick(p.ok, Qt::LeftButton);
        });
        // Confirming at once gives the initial folder back, without a trailing separator.
        EXPECT_EQ(modBrowse::BrowseForFolder(nullptr, "Pick", initial), folder.Path());
        EXPECT_EQ(selected, folder.Path());
        EXPECT_EQ(status, folder.Path());
        EXPECT_TRUE(okEnabled);
    }
}

TEST(FolderPicker, ConfirmsTheChosenFolderWithoutSeparator) {
    TestFolder folder;
    const QString names[] = {"tiles", "my tiles", "é", "タイル", "タイル é/deeper one", "a.bmp"};
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QString chosen = folder.File(name);
        ASSERT_TRUE(QDir().mkpath(chosen));
        QString status;
        PickerDriver driver([&](const PickerParts& p) {
            p.Select(chosen);
            status = p.status->text();
            QTest::mouseClick(p.ok, Qt::LeftButton);
        });
        EXPECT_EQ(modBrowse::BrowseForFolder(nullptr, "Pick", folder.Path()), chosen);
        EXPECT_TRUE(driver.Fired());
        EXPECT_EQ(status, chosen);
    }
}

TEST(FolderPicker, TheRootKeepsItsSeparator) {
    TestFolder folder;
    PickerDriver driver([](const PickerParts& p) {
        p.Select(QStringLiteral("/"));
        EXPECT_EQ(p.status->text(), "/");
        QTest::mouseClick(p.ok, Qt::LeftButton);
    });
    EXPECT_EQ(modBrowse::BrowseForFolder(nullptr, "Pick", folder.Path()), "/");
    EXPECT_TRUE(driver.Fired());
}

TEST(FolderPicker, StatusLineFollowsTheSelection) {
    TestFolder folder;
    const QStringList folders = {folder.File("one"), folder.File("two words"), folder.File("タイル"), folder.Path(), "/"};
    for (const QString& f : folders) {
        ASSERT_TRUE(QDir().mkpath(f));
    }
    QStringList statuses;
    PickerDriver driver([&](const PickerParts& p) {
        for (const QString& f : folders) {
            p.Select(f);
            statuses.append(p.status->text());
        }
        // Confirms the last selection.
        QTest::mouseClick(p.ok, Qt::LeftButton);
    });
    EXPECT_EQ(modBrowse::BrowseForFolder(nullptr, "Pick", folder.Path()), "/");
    EXPECT_EQ(statuses, folders);
}

TEST(FolderPicker, AMissingInitialFolderIsNotSelected) {
    TestFolder folder;
    const QString missing = folder.File("missing");
    QString selected = "?";
    QString status = "?";
    PickerDriver driver([&](const PickerParts& p) {
        selected = p.picker->SelectedPath();
        status = p.status->text();
        QTest::mouseClick(p.cancel, Qt::LeftButton);
    });
    EXPECT_EQ(modBrowse::BrowseForFolder(nullptr, "Pick", missing), "");
    EXPECT_TRUE(driver.Fired());
    EXPECT_NE(selected, missing);
    // Whatever the tree offers instead is a folder that exists, shown in the status line.
    if (!selected.isEmpty()) {
        EXPECT_TRUE(QDir(selected).exists()) << selected.toStdString();
        EXPECT_EQ(status, selected);
    }
    EXPECT_FALSE(QDir(missing).exists());
}

TEST(FolderPicker, ShowsFoldersOnlyAndNoHiddenOnes) {
    TestFolder folder;
    ASSERT_TRUE(QDir().mkpath(folder.File("alpha")));
    ASSERT_TRUE(QDir().mkpath(folder.File("beta gamma")));
    ASSERT_TRUE(QDir().mkpath(folder.File(".hidden")));
    WriteBytes(folder.File("picture.bmp"), "BM");
    WriteBytes(folder.File("info.ini"), "[MAIN]\r\n");
    QStringList shown;
    PickerDriver driver([&](const PickerParts& p) {
        const QModelIndex parent = p.model->index(folder.Path());
        p.tree->expand(parent);
        const bool loaded = QTest::qWaitFor([&] { return p.model->rowCount(parent) >= 2; });
        EXPECT_TRUE(loaded);
        QTest::qWait(50);  // let a late batch of entries arrive too
        for (int row = 0; row < p.model->rowCount(parent); ++row) {
            shown.append(p.model->index(row, 0, parent).data().toString());
        }
        QTest::mouseClick(p.cancel, Qt::LeftButton);
    });
    modBrowse::BrowseForFolder(nullptr, "Pick", folder.Path());
    shown.sort();
    EXPECT_EQ(shown, QStringList({"alpha", "beta gamma"}));
}

TEST(FolderPicker, KeepsTheInitialFolderInViewWhileTheTreeFills) {
    TestFolder folder;
    // Many folders sort before the initial one, at its own level and at its parent's: they
    // arrive after the picker opened and push it down.
    for (int i = 0; i < 80; ++i) {
        const QString name = QStringLiteral("f%1").arg(i, 2, 10, QLatin1Char('0'));
        ASSERT_TRUE(QDir().mkpath(folder.File(name)));
        ASSERT_TRUE(QDir().mkpath(folder.File("zz/" + name)));
    }
    ASSERT_TRUE(QDir().mkpath(folder.File("zz/zz")));
    const QString initial = folder.File("zz/zz");
    bool settled = false;
    QString current;
    QRect item, viewport;
    PickerDriver driver([&](const PickerParts& p) {
        // Wait until both levels are listed, then for the late sorting to pass.
        settled = QTest::qWaitFor([&] {
            return p.model->rowCount(p.model->index(folder.Path())) == 81 &&
                   p.model->rowCount(p.model->index(folder.File("zz"))) == 81;
        });
        QTest::qWait(200);
        current = p.Current();
        item = p.tree->visualRect(p.tree->currentIndex());
        viewport = p.tree->viewport()->rect();
        QTest::mouseClick(p.cancel, Qt::LeftButton);
    });
    modBrowse::BrowseForFolder(nullptr, "Pick", initial);
    EXPECT_TRUE(settled);
    EXPECT_EQ(current, initial);
    EXPECT_FALSE(item.isEmpty());
    EXPECT_TRUE(viewport.contains(item)) << "item at y " << item.y() << ", view height " << viewport.height();
}

TEST(FolderPicker, IsModalOverItsOwner) {
    TestFolder folder;
    QWidget owner;
    owner.show();
    QWidget* parent = nullptr;
    bool modal = false;
    PickerDriver driver([&](const PickerParts& p) {
        parent = p.picker->parentWidget();
        modal = p.picker->isModal();
        QTest::mouseClick(p.cancel, Qt::LeftButton);
    });
    modBrowse::BrowseForFolder(&owner, "Pick", folder.Path());
    EXPECT_EQ(parent, &owner);
    EXPECT_TRUE(modal);
}

struct CallbackCase {
    const char* name;
    int message;
    QString path;
    QString status;  // after the call; the status starts as "before"
};

TEST(FolderPicker, CallbackSetsTheStatusOnlyForAFolderWithAPath) {
    TestFolder folder;
    const CallbackCase cases[] = {
        {"selection with a path", FolderPicker::SelectionChanged, folder.Path(), folder.Path()},
        {"selection without a path", FolderPicker::SelectionChanged, "", "before"},
        {"other message", 3, folder.Path(), "before"},
        {"no message", 0, folder.Path(), "before"},
    };
    for (const CallbackCase& c : cases) {
        SCOPED_TRACE(c.name);
        FolderPicker picker(nullptr, "Pick", nullptr);
        picker.SetStatusText("before");
        EXPECT_EQ(modBrowse::BrowseCallbackProc(picker, c.message, c.path), 0);
        EXPECT_EQ(picker.findChild<QLabel*>("status")->text(), c.status);
    }
    // When the picker is ready, the callback selects CurrentDirectory (text before the NUL).
    FolderPicker picker(nullptr, "Pick", nullptr);
    modBrowse::CurrentDirectory = folder.Path() + QChar(u'\0') + "/ignored";
    EXPECT_EQ(modBrowse::BrowseCallbackProc(picker, FolderPicker::Initialized, QString()), 0);
    EXPECT_EQ(picker.SelectedPath(), folder.Path());
}

}  // namespace
