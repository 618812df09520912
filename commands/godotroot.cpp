#include "commands/godotroot.h"

#include <QDir>
#include <QFileInfo>

GodotRoot FindGodotRoot(const QString& folder) {
    // Up the path by name: folders of it that are still to be made hold no project either.
    const QString start = QDir::cleanPath(QDir(folder).absolutePath());
    for (QString at = start;;) {
        if (QFileInfo::exists(QDir(at).filePath(QStringLiteral("project.godot")))) {
            return {at, true};
        }
        const QString up = QFileInfo(at).path();
        if (up == at) {
            break;
        }
        at = up;
    }
    return {start, false};
}

QString GodotRoot::ResPath(const QString& written) const {
    const QString relative = QDir(folder).relativeFilePath(QFileInfo(written).absoluteFilePath());
    return relative == "." ? QStringLiteral("res://") : QStringLiteral("res://%1/").arg(relative);
}
