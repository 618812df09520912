#include "window/modbrowse.h"

#include "window/folderpicker.h"

#include <exception>

namespace modBrowse {

QString CurrentDirectory;

namespace {
// The text before the first NUL, as the picker reads a terminated text.
QString beforeNul(const QString& text) {
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.left(nul);
}
}  // namespace

QString BrowseForFolder(QWidget* owner, const QString& title, const QString& initialFolder) {
    CurrentDirectory = initialFolder + QChar(u'\0');
    FolderPicker picker(owner, title, BrowseCallbackProc);
    if (picker.exec() != QDialog::Accepted) {
        return QString();
    }
    return beforeNul(picker.SelectedPath());
}

int BrowseCallbackProc(FolderPicker& picker, int message, const QString& path) {
    // A step that fails leaves the picker as it is; the picker must stay usable.
    try {
        if (message == FolderPicker::Initialized) {
            picker.SetSelection(beforeNul(CurrentDirectory));
        } else if (message == FolderPicker::SelectionChanged && !path.isEmpty()) {
            picker.SetStatusText(path);
        }
    } catch (const std::exception&) {
    }
    return 0;
}

}  // namespace modBrowse
