#include "commands/godotroot.h"

#include <QDir>
#include <QFileInfo>

GodotRoot FindGodotRoot(const QString& folder) {
    for (QDir dir(folder);;) {
        if (QFileInfo::exists(dir.filePath(QStringLiteral("project.godot")))) {
            return {dir.absolutePath(), true};
        }
        if (!dir.cdUp()) {
            break;
        }
    }
    return {QDir(folder).absolutePath(), false};
}

QString GodotRoot::ResPath(const QString& written) const {
    const QString relative = QDir(folder).relativeFilePath(QFileInfo(written).absoluteFilePath());
    return relative == "." ? QStringLiteral("res://") : QStringLiteral("res://%1/").arg(relative);
}
