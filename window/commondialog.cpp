#include "window/commondialog.h"

#include <QFileDialog>

QStringList CommonDialog::NameFilters(const QString& filter) {
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'))) {
            if (!pattern.trimmed().isEmpty()) {
                patterns.append(pattern.trimmed());
            }
        }
        if (patterns.isEmpty()) {
            continue;
        }
        result.append(QStringLiteral("%1 (%2)").arg(description, patterns.join(QLatin1Char(' '))));
    }
    return result;
}

void CommonDialog::ShowOpen(QWidget* parent) {
    // The toolkit's own dialog, the same on every desktop (and drivable without a display).
    QFileDialog dialog(parent, DialogTitle.isEmpty() ? QStringLiteral("Open") : DialogTitle);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode((Flags & FileMustExist) != 0 ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    const QStringList filters = NameFilters(Filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
    }
    if (!InitDir.isEmpty()) {
        dialog.setDirectory(InitDir);
    }
    if (!FileName.isEmpty()) {
        dialog.selectFile(FileName);
    }
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    const QStringList chosen = dialog.selectedFiles();
    if (!chosen.isEmpty()) {
        FileName = chosen.first();
    }
}
