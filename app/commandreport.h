#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>

struct CommandResult;
struct Request;

class RuntimeError;

// What one run of a command read, wrote and counted, and how it ended: every command fills
// the one report, which gives the failure's line on stderr and, with --json, one JSON object
// on stdout at the end.
class CommandReport {
public:
    // The report of the running command.
    static CommandReport& Current();

    // Starts the report of a command; json: the object is printed when it ends.
    void Begin(const Request& request, bool json);

    // Takes what a command's run read, wrote and counted, and how it ended: a refusal or a
    // failure is told as Refuse and Fail tell them. Returns the exit status.
    int Take(const CommandResult& result);

    // A failure during the run: its line on stderr, its entry in Errors.Log (the file
    // tilvex, the procedure the command); the file it concerns is the command's own where the
    // failure names none. Exit status 1.
    int Fail(RuntimeError failure, const QString& procedure = QString());
    // A failure of one file of several (info): its line on stderr, about file where the
    // failure names none; the run goes on.
    void Tell(RuntimeError failure, const QString& file);
    // A usage mistake or bad input, about file where one is given: one line, exit 2.
    int Refuse(const QString& reason, const QString& file = QString());
    // A mistake in the command line itself: its line and the pointer to the help, exit 2.
    int RefuseUsage(const QString& reason);

    // Ends the run with this status: prints the JSON object when asked for; returns status.
    int Finish(int status);

    // The object as it stands (tests of the report read it).
    QJsonObject Object(int status) const;

private:
    QString command_;
    QString mainFile_;
    bool json_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    QStringList read_;
    QStringList written_;
    QJsonObject tiles_;
    QJsonObject values_;  // the counts and lists, at the top of the object
    QJsonObject error_;
};

// The one line that tells a failure: "FILE: error N: Description (cause)".
QString FailureText(const RuntimeError& failure);

// Shorthand of the running command's report.
int RefuseRun(const QString& reason, const QString& file = QString());
