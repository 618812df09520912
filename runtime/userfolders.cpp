#include "runtime/userfolders.h"

#include "runtime/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace {

// An XDG base folder: the variable when it holds an absolute path, else the default under home.
QString XdgFolder(const char* variable, const char* underHome) {
    const QString set = qEnvironmentVariable(variable);
    if (QDir::isAbsolutePath(set)) {
        return QDir::cleanPath(set);
    }
    return QDir::homePath() + PathSeparator() + QLatin1String(underHome);
}

QString AppSubfolder(const char* variable, const char* underHome) {
    return XdgFolder(variable, underHome) + PathSeparator() + QStringLiteral("tilvex");
}

}  // namespace

bool ProgramFolderIsInstalled() {
    const QString folder = ProgramFolder();
    // A folder that is not there is no installation; whatever used it keeps failing quietly.
    if (!QFileInfo(folder).isDir()) {
        return false;
    }
    // The folders installs put it in (cmake --install, the package) are no portable copy's,
    // whoever may write them (root, a container, a package staged under DESTDIR): nothing is
    // written there.
    const QString here = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    for (const char* bindir : {TILVEX_INSTALL_BINDIR, TILVEX_PACKAGE_BINDIR}) {
        const QString installed = QDir::cleanPath(QString::fromUtf8(bindir));
        if (here == installed || here.endsWith(installed)) {
            return true;
        }
    }
    return ::access(QFile::encodeName(folder).constData(), W_OK) != 0;
}

QString ErrorLogFolder() {
    if (!ProgramFolderIsInstalled()) {
        return ProgramFolder();
    }
    const QString folder = AppSubfolder("XDG_STATE_HOME", ".local/state");
    QDir().mkpath(folder);
    return folder;
}

QString StartupInfoFile() {
    const QString beside = ProgramFolder() + PathSeparator() + QStringLiteral("info.ini");
    if (!ProgramFolderIsInstalled() || QFileInfo::exists(beside)) {
        return beside;
    }
    return AppSubfolder("XDG_CONFIG_HOME", ".config") + PathSeparator() + QStringLiteral("info.ini");
}

QString StartFolder() {
    if (!ProgramFolderIsInstalled()) {
        return ProgramFolder();
    }
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return !pictures.isEmpty() && QFileInfo(pictures).isDir() ? pictures : QDir::homePath();
}
