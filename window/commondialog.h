#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QWidget;

// The common-dialog control "CD": set its properties, then ShowOpen shows a modal file-open
// dialog and leaves the chosen file's full path in FileName.
class CommonDialog : public QObject {
    Q_OBJECT
public:
    explicit CommonDialog(QObject* parent = nullptr) : QObject(parent) {}

    // OFN_FILEMUSTEXIST: only an existing file can be accepted.
    static constexpr int FileMustExist = 4096;

    QString FileName;
    QString DialogTitle;
    // "Description|pattern|Description|pattern...", a pattern being "*.bmp" or "*.bmp;*.dib".
    QString Filter;
    QString InitDir;
    int Flags = 0;

    // Blocks until the dialog closes. Cancelling is no error and leaves FileName as it was.
    void ShowOpen(QWidget* parent);

    // The Filter as the toolkit's name filters ("Bitmap (*.bmp)"); a description without a
    // pattern is dropped.
    static QStringList NameFilters(const QString& filter);
};
