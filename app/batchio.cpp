#include "batchio.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {
bool reserved = false;
std::function<void()> beforePrint;
int outClosed = 0;  // EBADF when the program started without a standard output
int outError = 0;

void print(std::FILE* stream, const QString& text) {
    if (beforePrint) {
        const std::function<void()> clear = std::move(beforePrint);
        beforePrint = nullptr;
        clear();
    }
    errno = 0;
    const bool failed = std::fputs(text.toLocal8Bit().constData(), stream) == EOF || std::fflush(stream) == EOF;
    if (stream == stdout && outError == 0 && (failed || outClosed)) {
        outError = outClosed ? outClosed : (errno ? errno : EIO);
    }
}

void printOut(const QString& text) { print(stdout, text); }
}  // namespace

void HoldStandardStreams() {
    // A file the run opens must not take a closed stream's number and receive its text.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            outClosed = fd == STDOUT_FILENO ? EBADF : outClosed;
            const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
            if (null != -1 && null != fd) {
                ::dup2(null, fd);
                ::close(null);
            }
        }
    }
}

int OutError() { return outError; }

void PrintOut(const QString& text) {
    if (!reserved) {
        printOut(text);
    }
}

void PrintErr(const QString& text) { print(stderr, text); }

void BeforeNextPrint(std::function<void()> clear) { beforePrint = std::move(clear); }

void ReserveOut() { reserved = true; }

void PrintReserved(const QString& text) { printOut(text); }
