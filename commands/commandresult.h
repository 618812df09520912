#pragma once

#include "runtime/runtimeerror.h"

#include <QJsonArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <new>
#include <optional>

// A run the command will not start, for a reason the user can mend (bad input, a file of
// the wrong kind): exit status 2, not a failure of the run.
struct Refusal {
    QString reason;
    QString file;  // the file the reason is about, "" where it names none
};

// Thrown by a command's steps for a Refusal; the command returns it in its result.
class Refused : public std::exception {
public:
    explicit Refused(QString reason, QString file = QString()) : refusal_{std::move(reason), std::move(file)} {}
    const Refusal& What() const { return refusal_; }
    const char* what() const noexcept override { return "refused"; }

private:
    Refusal refusal_;
};

// Numbered tiles written into a folder: first.suffix to (first + count - 1).suffix.
struct TilesWritten {
    QString folder;  // with its separator
    std::int64_t first = 0;
    std::int64_t count = 0;
    QString suffix;
};

// What one run of a command read, wrote and counted, and how it ended. Files are named as the
// user named them. A failure ends the run with what was done up to it still recorded.
struct CommandResult {
    QStringList read;
    QStringList written;
    std::optional<TilesWritten> tiles;
    // The command's counts by their report names ("next", "seen", "width", ...).
    std::map<QString, std::int64_t> counts;
    // Entries of the lists a command reports, by list name ("images" of info).
    std::map<QString, QJsonArray> lists;
    // Messages before the refusal, as the window would have shown them one after another.
    QStringList messages;
    std::optional<Refusal> refusal;
    std::optional<RuntimeError> failure;
    // The procedure a failure is logged under ("split", "compile", ...).
    QString procedure;

    bool Ok() const { return !refusal && !failure; }
    void Count(const QString& name, std::int64_t value) { counts[name] = value; }
    // A count of the run, 0 where it has none.
    std::int64_t CountOf(const QString& name) const {
        const auto found = counts.find(name);
        return found == counts.end() ? 0 : found->second;
    }
};

// Reports a run's progress: items done of the total (the progress bar of the batch program).
using Progress = std::function<void(long long done, long long total)>;

// Runs a command's body: a refusal or a failure it raises ends up in the result, logged
// under procedure.
template <typename Result, typename Body>
Result RunCommand(const QString& procedure, Body&& body) {
    Result result;
    result.procedure = procedure;
    try {
        body(result);
    } catch (const Refused& refused) {
        result.refusal = refused.What();
    } catch (const RuntimeError& failure) {
        result.failure = failure;
    } catch (const std::bad_alloc&) {
        result.failure = RuntimeError(Err::OutOfMemory, ErrorDescription(Err::OutOfMemory));
    }
    return result;
}

// The path with a trailing separator.
QString AsFolder(const QString& path);

// The window's messages for the same mistakes, so scripts see one wording.
extern const QString NoSource;
extern const QString NoDestination;
