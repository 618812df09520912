#include "commands/commandresult.h"

#include "runtime/paths.h"

const QString NoSource = QStringLiteral("Source path does not exist!");
const QString NoDestination = QStringLiteral("Destination path can not be blank!");

QString AsFolder(const QString& path) { return EndsWithSeparator(path) ? path : path + PathSeparator(); }
