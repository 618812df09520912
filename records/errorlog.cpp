#include "records/errorlog.h"

#include "records/logtime.h"
#include "runtime/descriptor.h"
#include "runtime/numbers.h"
#include "runtime/paths.h"
#include "runtime/userfolders.h"

#include <QDateTime>
#include <QLocale>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace {

// The date in the short date format, one blank, the time of day to the second.
QString DateTimeText() {
    // Read once, so an entry written at midnight cannot pair one day's date with the next
    // day's time.
    return LogDateTimeText(QDateTime::currentDateTime(), QLocale::system());
}

bool IsReadOnly(const QByteArray& path) {
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && (st.st_mode & 0222) == 0;
}

// A value kept on its line: a file name may hold line breaks and other control characters,
// which are written as C escapes (\n, \r, \xHH; tabs stay) so the entry keeps its seven lines.
QString OneLine(const QString& text) {
    QString line;
    line.reserve(text.size());
    for (const QChar c : text) {
        if ((c.unicode() >= 0x20 && c.unicode() != 0x7F) || c == QLatin1Char('\t')) {
            line += c;
        } else if (c == QLatin1Char('\n')) {
            line += QStringLiteral("\\n");
        } else if (c == QLatin1Char('\r')) {
            line += QStringLiteral("\\r");
        } else {
            line += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        }
    }
    return line;
}

void AppendEntry(const QString& file, const QString& procedure, std::int32_t number,
                 const QString& description) {
    const QString crlf = QStringLiteral("\r\n");
    const QString entry = QString(31, QLatin1Char('-')) + crlf + DateTimeText() + crlf +
                          QStringLiteral("File: ") + OneLine(file) + crlf + QStringLiteral("Procedure: ") +
                          OneLine(procedure) + crlf + QStringLiteral("Error #") + NumberText(number) + crlf +
                          QStringLiteral("Description: ") + OneLine(description) + crlf + crlf;
    const QByteArray bytes = entry.toLocal8Bit();

    const std::filesystem::path logPath = ToFsPath(ErrorLogPath());
    const QByteArray nativePath = QByteArray::fromStdString(logPath.native());
    // A file with no write bits is read-only, even to a user whom the system would let write.
    if (IsReadOnly(nativePath)) {
        return;
    }
    // O_NONBLOCK: a FIFO in the log's place must not hang the error handler waiting for a reader.
    const Descriptor log(::open(nativePath.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666));
    if (log.get() < 0) {
        return;
    }
    // An entry goes in whole or not at all: a write that the disk cuts short is taken back, so
    // later entries never follow half of one. The lock keeps a second run from appending
    // between our look at the end and the taking back.
    const bool locked = ::flock(log.get(), LOCK_EX) == 0;
    struct stat st {};
    const bool known = ::fstat(log.get(), &st) == 0 && S_ISREG(st.st_mode);
    if (!WriteAll(log.get(), bytes.constData(), static_cast<std::size_t>(bytes.size())) && known) {
        [[maybe_unused]] const int undone = ::ftruncate(log.get(), st.st_size);
    }
    if (locked) {
        ::flock(log.get(), LOCK_UN);
    }
}

}  // namespace

QString ErrorLogPath() { return ErrorLogFolder() + PathSeparator() + "Errors.Log"; }

void LogError(const QString& file, const QString& procedure, std::int32_t number, const QString& description) {
    if (number == 0) {
        return;
    }
    // The log is the last resort of an error handler: nothing may escape from here.
    try {
        AppendEntry(file, procedure, number, description);
    } catch (...) {
    }
}
