#include "window/folderpicker.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

FolderPicker::FolderPicker(QWidget* owner, const QString& title, Callback callback)
    : QDialog(owner), callback_(std::move(callback)) {
    setObjectName(QStringLiteral("FolderPicker"));
    setWindowTitle(QStringLiteral("Browse For Folder"));
    setModal(true);

    instruction_ = new QLabel(title, this);
    instruction_->setObjectName(QStringLiteral("instruction"));
    instruction_->setWordWrap(true);

    // Folders only, from the root down; hidden folders are left out as the shell does.
    model_ = new QFileSystemModel(this);
    model_->setObjectName(QStringLiteral("folderModel"));
    model_->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    model_->setReadOnly(true);
    model_->setRootPath(QString());

    tree_ = new QTreeView(this);
    tree_->setObjectName(QStringLiteral("folderTree"));
    tree_->setModel(model_);
    tree_->setHeaderHidden(true);
    for (int column = 1; column < model_->columnCount(); ++column) {
        tree_->hideColumn(column);
    }
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->setSortingEnabled(true);
    tree_->sortByColumn(0, Qt::AscendingOrder);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons_->setObjectName(QStringLiteral("buttons"));
    buttons_->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ok"));
    buttons_->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancel"));
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(false);
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(instruction_);
    layout->addWidget(tree_, 1);
    layout->addWidget(status_);
    layout->addWidget(buttons_);
    resize(320, 400);

    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { selectionChanged(current); });
    // Folders are read in the background and sorted afterwards, which moves the selection.
    connect(model_, &QFileSystemModel::directoryLoaded, this, [this] { keepSelectionInView(); });
    connect(model_, &QAbstractItemModel::layoutChanged, this, [this] { keepSelectionInView(); });
    connect(model_, &QAbstractItemModel::rowsInserted, this, [this] { keepSelectionInView(); });
    connect(tree_->verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] { followSelection_ = false; });
    tree_->viewport()->installEventFilter(this);
    tree_->installEventFilter(this);
}

bool FolderPicker::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
    case QEvent::KeyPress:
        followSelection_ = false;  // the user has taken over
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

void FolderPicker::keepSelectionInView() {
    if (!followSelection_ || scrollPending_) {
        return;
    }
    // After the view has taken in the change.
    scrollPending_ = true;
    QTimer::singleShot(0, this, [this] {
        scrollPending_ = false;
        if (followSelection_ && tree_->currentIndex().isValid()) {
            tree_->scrollTo(tree_->currentIndex(), QAbstractItemView::PositionAtCenter);
        }
    });
}

bool FolderPicker::SetSelection(const QString& folder) {
    if (folder.isEmpty()) {
        return false;
    }
    const QModelIndex index = model_->index(QDir::cleanPath(folder));
    if (!index.isValid() || !model_->isDir(index)) {
        return false;
    }
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent()) {
        tree_->expand(parent);
    }
    tree_->setCurrentIndex(index);
    tree_->scrollTo(index, QAbstractItemView::PositionAtCenter);
    return true;
}

void FolderPicker::SetStatusText(const QString& text) { status_->setText(text); }

QString FolderPicker::SelectedPath() const {
    const QModelIndex index = tree_->currentIndex();
    if (!index.isValid() || !model_->isDir(index)) {
        return QString();
    }
    return QDir::cleanPath(model_->filePath(index));
}

void FolderPicker::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!initialized_) {
        initialized_ = true;
        notify(Initialized, QString());
    }
}

void FolderPicker::selectionChanged(const QModelIndex& current) {
    const QString path = current.isValid() ? model_->filePath(current) : QString();
    // Only a folder of the file system can be confirmed.
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(!path.isEmpty() && model_->isDir(current));
    notify(SelectionChanged, path.isEmpty() ? QString() : QDir::cleanPath(path));
}

void FolderPicker::notify(int message, const QString& path) {
    if (callback_) {
        callback_(*this, message, path);
    }
}
