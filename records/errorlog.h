#pragma once

#include <QString>

#include <cstdint>

// Appends a seven-line entry to Errors.Log in the program folder for a failure whose number
// is greater than 0. Never fails towards its caller.
void LogError(const QString& file, const QString& procedure, std::int32_t number, const QString& description);
