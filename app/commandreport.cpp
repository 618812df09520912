#include "commandreport.h"

#include "batchio.h"
#include "batchoptions.h"

#include "commands/commandresult.h"

#include "records/errorlog.h"
#include "runtime/runtimeerror.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cstring>

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

void CommandReport::Tell(RuntimeError failure, const QString& file) {
    failure.NameFile(file);
    PrintErr(QStringLiteral("tilvex: %1\n").arg(FailureText(failure)));
    // The object names the first file that failed; stderr has every one.
    if (error_.isEmpty()) {
        error_ = QJsonObject{{"number", static_cast<int>(failure.Number())},
                             {"text", describe(failure)},
                             {"file", failure.File()},
                             {"message", FailureText(failure)}};
    }
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
    // A report that did not reach its reader is a failed run, whatever the run did.
    if (const int error = OutError(); error != 0 && status == ExitOk) {
        const std::int32_t number = ErrnoToNumber(error);
        const QString description = ErrorDescription(number);
        Fail(RuntimeError(number, description.isEmpty() ? QStringLiteral("Device I/O error") : description,
                          QStringLiteral("standard output"), QString::fromLocal8Bit(std::strerror(error))));
        return ExitFailure;
    }
    return status;
}

int RefuseRun(const QString& reason, const QString& file) { return CommandReport::Current().Refuse(reason, file); }

int CommandReport::Take(const CommandResult& result) {
    read_ += result.read;
    written_ += result.written;
    if (const std::optional<TilesWritten>& tiles = result.tiles) {
        const auto name = [&](std::int64_t n) { return tiles->folder + QString::number(n) + tiles->suffix; };
        tiles_ = QJsonObject{{"folder", tiles->folder},
                             {"count", static_cast<qint64>(tiles->count)},
                             {"first", name(tiles->first)},
                             {"last", name(tiles->first + tiles->count - 1)}};
    }
    for (const auto& [name, value] : result.counts) {
        values_[name] = static_cast<qint64>(value);
    }
    for (const auto& [list, entries] : result.lists) {
        values_[list] = entries;
    }
    for (const QString& message : result.messages) {
        PrintErr(QStringLiteral("tilvex: %1\n").arg(message));
    }
    if (result.refusal) {
        return Refuse(result.refusal->reason, result.refusal->file);
    }
    if (result.failure) {
        return Fail(*result.failure, result.procedure);
    }
    return ExitOk;
}
