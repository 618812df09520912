#pragma once

#include <QString>

#include <cstdint>

// Appends a seven-line entry to Errors.Log in the program folder for every failure whose
// number is not 0; the image layer's negative numbers are written as they are. Never fails
// towards its caller.
// Where LogError appends its entries.
QString ErrorLogPath();

void LogError(const QString& file, const QString& procedure, std::int32_t number, const QString& description);
