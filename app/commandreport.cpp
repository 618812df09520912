#include "commandreport.h"

#include "batchio.h"
#include "batchoptions.h"

#include "records/errorlog.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

const QString NoSource = QStringLiteral("Source path does not exist!");
const QString NoDestination = QStringLiteral("Destination path can not be blank!");

namespace {
// "Description (cause)", the cause where the system gave one.
QString describe(const RuntimeError& failure) {
    return failure.Cause().isEmpty() ? failure.Description()
                                     : QStringLiteral("%1 (%2)").arg(failure.Description(), failure.Cause());
}

QString onFile(const QString& file, const QString& text) { return file.isEmpty() ? text : file + ": " + text; }
}  // namespace

QString FailureText(const RuntimeError& failure) {
    return onFile(failure.File(), QStringLiteral("error %1: %2").arg(failure.Number()).arg(describe(failure)));
}

CommandReport& CommandReport::Current() {
    static CommandReport report;
    return report;
}

void CommandReport::Begin(const Request& request, bool json) {
    *this = CommandReport();
    command_ = request.command;
    json_ = json;
    // The file a failure concerns when it names none: the command's first.
    mainFile_ = request.Value("--map").value_or(request.operands.value(0));
    if (json_) {
        ReserveOut();
    }
}

void CommandReport::Read(const QString& path) { read_ += path; }

void CommandReport::Wrote(const QString& path) { written_ += path; }

void CommandReport::WroteTiles(const QString& folder, std::int64_t first, std::int64_t count, const QString& suffix) {
    tiles_ = QJsonObject{{"folder", folder},
                         {"count", static_cast<qint64>(count)},
                         {"first", folder + QString::number(first) + suffix},
                         {"last", folder + QString::number(first + count - 1) + suffix}};
}

void CommandReport::Count(const QString& name, std::int64_t value) { values_[name] = static_cast<qint64>(value); }

void CommandReport::Append(const QString& list, const QJsonObject& entry) {
    QJsonArray entries = values_[list].toArray();
    entries.append(entry);
    values_[list] = entries;
}

int CommandReport::Fail(RuntimeError failure, const QString& procedure) {
    failure.NameFile(mainFile_);
    const QString text = FailureText(failure);
    LogError(QStringLiteral("tilvex"), procedure.isEmpty() ? command_ : procedure, failure.Number(),
             onFile(failure.File(), describe(failure)));
    PrintErr(QStringLiteral("tilvex: %1\n").arg(text));
    error_ = QJsonObject{{"number", static_cast<int>(failure.Number())},
                         {"text", describe(failure)},
                         {"file", failure.File()},
                         {"message", text}};
    return ExitFailure;
}

int CommandReport::Refuse(const QString& reason, const QString& file) {
    const QString text = onFile(file, reason);
    PrintErr(QStringLiteral("tilvex: %1\n").arg(text));
    error_ = QJsonObject{{"text", reason}, {"file", file}, {"message", text}};
    return ExitUsage;
}

int CommandReport::RefuseUsage(const QString& reason) {
    const QString help = command_.isEmpty() ? QStringLiteral("tilvex --help") : "tilvex " + command_ + " --help";
    PrintErr(QStringLiteral("tilvex: %1\nTry '%2'.\n").arg(reason, help));
    error_ = QJsonObject{{"text", reason}, {"file", QString()}, {"message", reason}};
    return ExitUsage;
}

QJsonObject CommandReport::Object(int status) const {
    QJsonObject written{{"files", QJsonArray::fromStringList(written_)}};
    if (!tiles_.isEmpty()) {
        written["tiles"] = tiles_;
    }
    QJsonObject object{{"command", command_},
                       {"status", status},
                       {"read", QJsonArray::fromStringList(read_)},
                       {"written", written},
                       {"seconds", std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count()}};
    for (auto count = values_.begin(); count != values_.end(); ++count) {
        object[count.key()] = count.value();
    }
    if (!error_.isEmpty()) {
        object["error"] = error_;
    }
    return object;
}

int CommandReport::Finish(int status) {
    if (json_) {
        PrintReserved(QString::fromUtf8(QJsonDocument(Object(status)).toJson(QJsonDocument::Compact)) + "\n");
    }
    return status;
}

int RefuseRun(const QString& reason, const QString& file) { return CommandReport::Current().Refuse(reason, file); }

int FailRun(const RuntimeError& failure, const QString& procedure) {
    return CommandReport::Current().Fail(failure, procedure);
}

QString AsFolder(const QString& path) { return EndsWithSeparator(path) ? path : path + PathSeparator(); }

std::optional<int> RefuseSplitOperands(const Request& request) {
    if (request.operands[1].isEmpty()) {
        return RefuseRun(NoDestination);
    }
    const QFileInfo source(request.operands[0]);
    if (!source.exists()) {
        return RefuseRun(QStringLiteral("no such file (%1)").arg(NoSource), request.operands[0]);
    }
    if (!source.isFile()) {
        return RefuseRun(QStringLiteral("is a folder, not a picture to split"), request.operands[0]);
    }
    return std::nullopt;
}

std::optional<int> RefuseCompileOperands(const Request& request, bool anyTileFormat) {
    const QString& source = request.operands[0];
    if (request.operands[1].isEmpty()) {
        return RefuseRun(NoDestination);
    }
    const QFileInfo folder(source);
    if (!folder.exists()) {
        return RefuseRun(QStringLiteral("no such folder (%1)").arg(NoSource), source);
    }
    if (!folder.isDir()) {
        return RefuseRun(QStringLiteral("is a file, not a folder of tiles (Source path should be a folder not an image.)"),
                         source);
    }
    if (!QFileInfo(AsFolder(source) + "info.ini").isFile()) {
        return RefuseRun(QStringLiteral("holds no info.ini, the tile information file that split writes"), source);
    }
    // The window's way reads bitmaps only, and would fail on the first tile without saying why.
    const QString first = AsFolder(source) + request.Value("--start").value_or(QStringLiteral("0"));
    if (!anyTileFormat && !QFileInfo::exists(first + ".bmp") && QFileInfo::exists(first + ".png")) {
        return RefuseRun(QStringLiteral("holds PNG tiles (%1.png), not bitmaps; --format png reads them").arg(first),
                         source);
    }
    return std::nullopt;
}
