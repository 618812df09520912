#include "commandreport.h"

#include "batchio.h"
#include "batchoptions.h"

#include "records/errorlog.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"

#include <QFileInfo>

const QString NoSource = QStringLiteral("Source path does not exist!");
const QString NoDestination = QStringLiteral("Destination path can not be blank!");

int RefuseRun(const QString& reason) {
    PrintErr(QStringLiteral("tilvex: %1\n").arg(reason));
    return ExitUsage;
}

int FailRun(const RuntimeError& failure, const QString& procedure) {
    LogError(QStringLiteral("tilvex"), procedure, failure.Number(), failure.Description());
    PrintErr(QStringLiteral("tilvex: error %1: %2\n").arg(failure.Number()).arg(failure.Description()));
    return ExitFailure;
}

QString AsFolder(const QString& path) { return EndsWithSeparator(path) ? path : path + PathSeparator(); }

std::optional<int> RefuseSplitOperands(const Request& request) {
    if (request.operands[1].isEmpty()) {
        return RefuseRun(NoDestination);
    }
    if (!QFileInfo(request.operands[0]).isFile()) {
        return RefuseRun(NoSource);
    }
    return std::nullopt;
}
