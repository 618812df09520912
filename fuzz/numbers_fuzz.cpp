// Feeds arbitrary text and arbitrary doubles to the number helpers: nothing may crash or
// be undefined, and NumberText must read back through StrictNumber as the same number,
// under a "." and a "," locale.
// sources: runtime/numbers.cpp runtime/runtimeerror.cpp

#include "runtime/numbers.h"
#include "runtime/runtimeerror.h"

#include <QString>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void RoundTrip(double value) {
    if (!std::isfinite(value)) {
        return;
    }
    const QString text = NumberText(value);
    double back = 0;
    try {
        back = StrictNumber(text);
    } catch (const RuntimeError& failure) {
        std::fprintf(stderr, "StrictNumber(\"%s\") failed with %d\n", qPrintable(text), failure.Number());
        std::abort();
    }
    if (back != value && !(value == 0 && back == 0)) {
        std::fprintf(stderr, "%.17g -> \"%s\" -> %.17g\n", value, qPrintable(text), back);
        std::abort();
    }
    try {
        const std::int32_t rounded = RoundToLong(value);
        if (std::fabs(static_cast<double>(rounded) - value) > 0.5) {
            std::fprintf(stderr, "RoundToLong(%.17g) = %d\n", value, rounded);
            std::abort();
        }
    } catch (const RuntimeError& failure) {
        if (failure.Number() != 6 || std::fabs(value) < 2147483647.0) {
            std::fprintf(stderr, "RoundToLong(%.17g) failed with %d\n", value, failure.Number());
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte picks the locale; the rest is the input.
    static const bool comma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    std::setlocale(LC_NUMERIC, (data[0] & 1) && comma ? "de_DE.UTF-8" : "C");
    ++data;
    --size;

    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    RoundTrip(ParseNumber(text));
    try {
        RoundTrip(StrictNumber(text));
    } catch (const RuntimeError& failure) {
        if (failure.Number() != 13 && failure.Number() != 6) {
            std::fprintf(stderr, "StrictNumber failed with %d\n", failure.Number());
            std::abort();
        }
    }
    if (size >= sizeof(double)) {
        double value = 0;
        std::memcpy(&value, data, sizeof value);
        RoundTrip(value);
    }
    return 0;
}
