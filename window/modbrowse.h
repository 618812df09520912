#pragma once

#include <QString>

class FolderPicker;
class QWidget;

// The folder picker as the window uses it.
namespace modBrowse {

// The folder that the picker pre-selects, followed by one NUL character (as the text that
// crosses to the picker is terminated). Written by BrowseForFolder, read by the callback.
extern QString CurrentDirectory;

// Opens the modal folder picker over owner with title as its instruction and
// initialFolder selected. Returns the chosen folder (no trailing separator except for the
// root) or "" when the user cancels.
QString BrowseForFolder(QWidget* owner, const QString& title, const QString& initialFolder);

// The picker's callback: selects CurrentDirectory when the picker is ready and shows the
// selected folder's full path in the status line. Never fails; always 0.
int BrowseCallbackProc(FolderPicker& picker, int message, const QString& path);

}  // namespace modBrowse
