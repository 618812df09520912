#pragma once

#include <QString>

// Exit statuses of the batch program.
constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

void PrintOut(const QString& text);
void PrintErr(const QString& text);
