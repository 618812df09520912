#pragma once

#include <QString>

#include <functional>

// Exit statuses of the batch program.
constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

// Run first: a standard stream that is closed is held open on /dev/null, and standard output
// found closed fails the first text printed to it.
void HoldStandardStreams();
// The errno of the first text that could not be printed to standard output, 0 for none.
int OutError();

void PrintOut(const QString& text);
void PrintErr(const QString& text);

// Runs once before the next text is printed (a progress bar clears its line).
void BeforeNextPrint(std::function<void()> clear);

// Keeps standard output for one report (--json): PrintOut prints nothing from now on, and
// PrintReserved is the report's way out.
void ReserveOut();
void PrintReserved(const QString& text);
