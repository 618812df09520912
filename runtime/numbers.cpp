#include "runtime/numbers.h"

#include "runtime/runtimeerror.h"

#include <cfloat>
#include <clocale>
#include <locale.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

// The decimal separator of the user's locale (LC_NUMERIC).
QChar DecimalSeparator() {
    const std::lconv* conv = std::localeconv();
    if (conv != nullptr && conv->decimal_point != nullptr && conv->decimal_point[0] != '\0') {
        return QChar::fromLatin1(conv->decimal_point[0]);
    }
    return QLatin1Char('.');
}

bool IsDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

int DigitValue(QChar c, int radix) {
    int value = -1;
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') {
        value = u - u'0';
    } else if (u >= u'a' && u <= u'f') {
        value = u - u'a' + 10;
    } else if (u >= u'A' && u <= u'F') {
        value = u - u'A' + 10;
    }
    return value < radix ? value : -1;
}

// Converts "[-]digits[.digits][e[-]digits]" in plain ASCII, whatever the user's locale. An
// out of range magnitude gives +-infinity, a too small one 0 or the nearest subnormal.
double ToDouble(const std::string& text) {
    static const locale_t c = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return ::strtod_l(text.c_str(), nullptr, c);
}

// Reads the digits of "&H..." or "&O..." from pos; end is the index after the last digit.
double RadixInteger(const QString& text, qsizetype pos, int radix, bool skipBlanks, qsizetype& end) {
    double value = 0;
    end = pos;
    for (qsizetype i = pos; i < text.size(); ++i) {
        const QChar c = text[i];
        if (skipBlanks && (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n'))) {
            continue;
        }
        const int digit = DigitValue(c, radix);
        if (digit < 0) {
            break;
        }
        value = value * radix + digit;
        end = i + 1;
    }
    return value;
}

// The "&H"/"&O" prefix at pos, or 0 when there is none.
int RadixPrefix(const QString& text, qsizetype pos) {
    if (pos + 1 >= text.size() || text[pos] != QLatin1Char('&')) {
        return 0;
    }
    const QChar kind = text[pos + 1].toUpper();
    if (kind == QLatin1Char('H')) {
        return 16;
    }
    if (kind == QLatin1Char('O')) {
        return 8;
    }
    return 0;
}

// Reads sign, digits, separator, digits and exponent from text into an ASCII number;
// returns the index after the last character used. With skipBlanks, blanks, tabs and line
// feeds anywhere are passed over.
qsizetype ScanDecimal(const QString& text, qsizetype pos, QChar separator, bool skipBlanks, std::string& out,
                      bool& anyDigit) {
    auto skip = [&](qsizetype i) {
        while (skipBlanks && i < text.size() &&
               (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t') || text[i] == QLatin1Char('\n'))) {
            ++i;
        }
        return i;
    };
    qsizetype i = skip(pos);
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        if (text[i] == QLatin1Char('-')) {
            out += '-';
        }
        i = skip(i + 1);
    }
    anyDigit = false;
    while (i < text.size() && IsDigit(text[i])) {
        out += static_cast<char>(text[i].unicode());
        anyDigit = true;
        i = skip(i + 1);
    }
    if (i < text.size() && text[i] == separator) {
        qsizetype j = skip(i + 1);
        std::string fraction;
        while (j < text.size() && IsDigit(text[j])) {
            fraction += static_cast<char>(text[j].unicode());
            j = skip(j + 1);
        }
        if (anyDigit || !fraction.empty()) {
            out += '.';
            out += fraction;
            anyDigit = true;
            i = j;
        }
    }
    if (anyDigit && i < text.size()) {
        const QChar e = text[i].toUpper();
        if (e == QLatin1Char('E') || e == QLatin1Char('D')) {
            qsizetype j = skip(i + 1);
            std::string exponent = "e";
            if (j < text.size() && (text[j] == QLatin1Char('+') || text[j] == QLatin1Char('-'))) {
                exponent += static_cast<char>(text[j].unicode());
                j = skip(j + 1);
            }
            bool expDigit = false;
            while (j < text.size() && IsDigit(text[j])) {
                exponent += static_cast<char>(text[j].unicode());
                expDigit = true;
                j = skip(j + 1);
            }
            if (expDigit) {
                out += exponent;
                i = j;
            }
        }
    }
    return i;
}

// Largest finite magnitude, kept when a text names a number beyond a double's range.
double Saturate(double value) {
    if (std::isinf(value)) {
        return value < 0 ? -DBL_MAX : DBL_MAX;
    }
    return value;
}

QString Trimmed(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (first < last && blank(text[first])) {
        ++first;
    }
    while (last > first && blank(text[last - 1])) {
        --last;
    }
    return text.mid(first, last - first);
}

}  // namespace

double ParseNumber(const QString& text) {
    qsizetype start = 0;
    while (start < text.size() &&
           (text[start] == QLatin1Char(' ') || text[start] == QLatin1Char('\t') || text[start] == QLatin1Char('\n'))) {
        ++start;
    }
    if (const int radix = RadixPrefix(text, start)) {
        qsizetype end = 0;
        return Saturate(RadixInteger(text, start + 2, radix, true, end));
    }
    std::string ascii;
    bool anyDigit = false;
    ScanDecimal(text, start, QLatin1Char('.'), true, ascii, anyDigit);
    if (!anyDigit) {
        return 0;
    }
    return Saturate(ToDouble(ascii));
}

double StrictNumber(const QString& text) {
    const QString body = Trimmed(text);
    if (const int radix = RadixPrefix(body, 0)) {
        qsizetype end = 0;
        const double value = RadixInteger(body, 2, radix, false, end);
        if (end == 2 || end != body.size()) {
            RaiseError(Err::TypeMismatch);
        }
        if (value > 4294967295.0) {
            RaiseError(Err::Overflow);
        }
        return value;
    }
    std::string ascii;
    bool anyDigit = false;
    const qsizetype end = ScanDecimal(body, 0, DecimalSeparator(), false, ascii, anyDigit);
    if (!anyDigit || end != body.size()) {
        RaiseError(Err::TypeMismatch);
    }
    const double value = ToDouble(ascii);
    if (std::isinf(value)) {
        RaiseError(Err::Overflow);
    }
    return value;
}

QString NumberText(double number) {
    if (!std::isfinite(number)) {
        RaiseError(Err::Overflow);
    }
    if (number == 0) {
        return QStringLiteral("0");
    }
    // Whole numbers, the usual case (tile numbers), need no digit search.
    if (std::fabs(number) < 1e15 && number == std::trunc(number)) {
        return QString::number(static_cast<long long>(number));
    }
    // Fifteen significant digits as users read them; more only where fifteen would not read
    // back as the same number.
    char digits[40];
    int precision = 15;
    for (; precision <= 17; ++precision) {
        std::snprintf(digits, sizeof digits, "%.*e", precision - 1, number);
        if (std::strtod(digits, nullptr) == number || precision == 17) {
            break;
        }
    }
    // digits holds "[-]d.ddd...e[+-]xx" with the C locale's or the user's separator; take
    // the mantissa digits and the exponent apart.
    std::string mantissa;
    int exponent = 0;
    bool negative = false;
    for (const char* p = digits; *p != '\0'; ++p) {
        if (*p == '-' && mantissa.empty()) {
            negative = true;
        } else if (*p >= '0' && *p <= '9') {
            mantissa += *p;
        } else if (*p == 'e') {
            exponent = std::atoi(p + 1);
            break;
        }
    }
    while (mantissa.size() > 1 && mantissa.back() == '0') {
        mantissa.pop_back();
    }
    const QChar separator = DecimalSeparator();
    QString out = negative ? QStringLiteral("-") : QString();
    const int count = static_cast<int>(mantissa.size());
    if (exponent >= 15 || exponent < -5) {
        out += QLatin1Char(mantissa[0]);
        if (count > 1) {
            out += separator + QString::fromLatin1(mantissa.substr(1));
        }
        out += QStringLiteral("E%1%2").arg(exponent < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                   .arg(std::abs(exponent), 2, 10, QLatin1Char('0'));
        return out;
    }
    if (exponent < 0) {
        out += QLatin1Char('0') + separator + QString(-exponent - 1, QLatin1Char('0')) +
               QString::fromLatin1(mantissa);
        return out;
    }
    if (count <= exponent + 1) {
        out += QString::fromLatin1(mantissa) + QString(exponent + 1 - count, QLatin1Char('0'));
        return out;
    }
    out += QString::fromLatin1(mantissa.substr(0, static_cast<std::size_t>(exponent) + 1)) + separator +
           QString::fromLatin1(mantissa.substr(static_cast<std::size_t>(exponent) + 1));
    return out;
}

std::int32_t RoundToLong(double value) {
    // nearbyint rounds halves to the even neighbour in the default rounding mode.
    const double rounded = std::nearbyint(value);
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) {
        RaiseError(Err::Overflow);
    }
    return static_cast<std::int32_t>(rounded);
}

std::int32_t AddLong(std::int32_t a, std::int32_t b) {
    std::int32_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        RaiseError(Err::Overflow);
    }
    return sum;
}
