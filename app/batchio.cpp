#include "batchio.h"

#include <cstdio>

namespace {
bool reserved = false;
std::function<void()> beforePrint;

void print(std::FILE* stream, const QString& text) {
    if (beforePrint) {
        const std::function<void()> clear = std::move(beforePrint);
        beforePrint = nullptr;
        clear();
    }
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}
}  // namespace

void PrintOut(const QString& text) {
    if (!reserved) {
        print(stdout, text);
    }
}

void PrintErr(const QString& text) { print(stderr, text); }

void BeforeNextPrint(std::function<void()> clear) { beforePrint = std::move(clear); }

void ReserveOut() { reserved = true; }

void PrintReserved(const QString& text) { print(stdout, text); }
