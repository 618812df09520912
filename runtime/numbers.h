#pragma once

#include <QString>

#include <cstdint>

// Numbers travel between controls, members and files as text; these convert them.

// Reads the leading number of a text; never fails ("12abc" is 12, "abc" is 0).
// Blanks, tabs and line feeds anywhere are ignored; the decimal point is always ".".
// "&H" and "&O" prefixes read hexadecimal and octal integers.
double ParseNumber(const QString& text);

// Reads a text that must be a number as a whole (surrounding blanks allowed), with the
// locale's decimal separator; "&H"/"&O" integers too. Otherwise raises 13 "Type mismatch".
double StrictNumber(const QString& text);

// Shortest text that reads back as the same number through StrictNumber, with the
// locale's decimal separator; up to 15 significant digits, exponent form for very large
// or very small magnitudes.
QString NumberText(double number);

// Nearest signed 32-bit integer, halves to the even neighbour; 6 "Overflow" outside the range.
std::int32_t RoundToLong(double value);

// a + b in signed 32 bits; 6 "Overflow" instead of wrapping.
std::int32_t AddLong(std::int32_t a, std::int32_t b);
