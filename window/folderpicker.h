#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QDialogButtonBox;
class QFileSystemModel;
class QLabel;
class QModelIndex;
class QTreeView;

// The folder picker: a modal dialog with an instruction above a tree of the file system's
// folders, a status line and OK / Cancel. Whoever opens it is told, through a callback,
// when it is ready and whenever the selection changes, and may then set the selection and
// the status line (as the shell's folder browser does).
class FolderPicker : public QDialog {
    Q_OBJECT
public:
    // The picker is ready to show.
    static constexpr int Initialized = 1;
    // The selection changed; the text is the selected folder's path ("" when it has none).
    static constexpr int SelectionChanged = 2;

    using Callback = std::function<int(FolderPicker& picker, int message, const QString& path)>;

    FolderPicker(QWidget* owner, const QString& title, Callback callback);

    // Selects the folder and scrolls to it; false when it is no folder shown in the tree.
    bool SetSelection(const QString& folder);
    void SetStatusText(const QString& text);

    // The selected folder's path: no trailing separator except for the root; "" when no
    // folder is selected.
    QString SelectedPath() const;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void selectionChanged(const QModelIndex& current);
    void notify(int message, const QString& path);
    void keepSelectionInView();

    Callback callback_;
    QLabel* instruction_;
    QTreeView* tree_;
    QFileSystemModel* model_;
    QLabel* status_;
    QDialogButtonBox* buttons_;
    bool initialized_ = false;
    // The tree fills in the background and sorts late; until the user scrolls or clicks,
    // the selection is kept in view.
    bool followSelection_ = true;
    bool scrollPending_ = false;
};
