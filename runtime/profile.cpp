#include "runtime/profile.h"

#include "runtime/atomicfile.h"
#include "runtime/descriptor.h"
#include "runtime/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <vector>

namespace {

// One line of the file with its own line end, so a rewrite can keep every other byte.
struct Line {
    QByteArray text;
    QByteArray end;
};

std::optional<QByteArray> ReadWhole(const std::string& path) {
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (file.get() < 0 || ::fstat(file.get(), &st) != 0) {
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        errno = ENXIO;
        return std::nullopt;
    }
    QByteArray bytes;
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(file.get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            return bytes;
        }
        bytes.append(chunk, got);
    }
}

std::vector<Line> SplitLines(const QByteArray& bytes) {
    std::vector<Line> lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        const qsizetype newline = bytes.indexOf('\n', start);
        if (newline < 0) {
            lines.push_back({bytes.mid(start), {}});
            break;
        }
        const bool crlf = newline > start && bytes[newline - 1] == '\r';
        const qsizetype textEnd = crlf ? newline - 1 : newline;
        lines.push_back({bytes.mid(start, textEnd - start), crlf ? QByteArray("\r\n") : QByteArray("\n")});
        start = newline + 1;
    }
    return lines;
}

QString Decode(const QByteArray& bytes) { return QString::fromLocal8Bit(bytes); }

bool SameName(const QString& a, const QString& b) {
    return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

// The section name of a "[name]" line, or nothing for other lines.
std::optional<QString> SectionName(const QByteArray& line) {
    const QString text = Decode(line).trimmed();
    if (!text.startsWith(QLatin1Char('['))) {
        return std::nullopt;
    }
    const qsizetype close = text.indexOf(QLatin1Char(']'));
    return text.mid(1, close < 0 ? -1 : close - 1);
}

bool IsComment(const QByteArray& line) { return Decode(line).trimmed().startsWith(QLatin1Char(';')); }

// Key and raw value of a "key=value" line.
std::optional<std::pair<QString, QString>> KeyLine(const QByteArray& line) {
    if (IsComment(line) || SectionName(line)) {
        return std::nullopt;
    }
    const QString text = Decode(line);
    const qsizetype equals = text.indexOf(QLatin1Char('='));
    if (equals < 0) {
        return std::nullopt;
    }
    return std::make_pair(text.left(equals).trimmed(), text.mid(equals + 1));
}

// Index range [first, last) of the first matching section's body, or nothing.
std::optional<std::pair<std::size_t, std::size_t>> FindSection(const std::vector<Line>& lines,
                                                               const QString& section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto name = SectionName(lines[i].text);
        if (!name || !SameName(*name, section)) {
            continue;
        }
        std::size_t end = i + 1;
        while (end < lines.size() && !SectionName(lines[end].text)) {
            ++end;
        }
        return std::make_pair(i + 1, end);
    }
    return std::nullopt;
}

std::optional<std::size_t> FindKey(const std::vector<Line>& lines, std::size_t first, std::size_t last,
                                   const QString& key) {
    for (std::size_t i = first; i < last; ++i) {
        const auto entry = KeyLine(lines[i].text);
        if (entry && SameName(entry->first, key)) {
            return i;
        }
    }
    return std::nullopt;
}

QString Unquoted(const QString& raw) {
    QString value = raw.trimmed();
    if (value.size() >= 2 && (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\'')) &&
        value.back() == value.front()) {
        value = value.mid(1, value.size() - 2);
    }
    return value;
}

// The file is either the old one or the new one, never half of each, whatever stops us.
bool ReplaceFile(const std::string& path, const QByteArray& bytes, mode_t mode) {
    AtomicFile file;
    return file.Open(path, mode) &&
           WriteAll(file.Fd(), bytes.constData(), static_cast<std::size_t>(bytes.size())) &&
           ::fchmod(file.Fd(), mode) == 0 && ::fsync(file.Fd()) == 0 && file.Commit();
}

// Where a plain write of the file would be allowed: the folder exists and the file, when
// present, is an ordinary file with write permission. A file with no write bits is
// read-only even for a user whom the system would let write.
bool MayWrite(const std::string& path, struct stat& st, bool& exists) {
    exists = ::stat(path.c_str(), &st) == 0;
    if (exists) {
        if (!S_ISREG(st.st_mode)) {
            errno = S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
            return false;
        }
        if ((st.st_mode & 0222) == 0) {
            errno = EACCES;
            return false;
        }
        return ::access(path.c_str(), W_OK) == 0;
    }
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    return ::access(folder.empty() ? "." : folder.c_str(), W_OK) == 0;
}

bool HoldsLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

}  // namespace

int GetPrivateProfileString(const QString& section, const QString& key, const QString& defaultValue,
                            QString& buffer, int size, const QString& fileName) {
    if (size <= 0) {
        return 0;
    }
    QString value = defaultValue;
    if (const auto bytes = ReadWhole(ToFsPath(fileName).native())) {
        const std::vector<Line> lines = SplitLines(*bytes);
        if (const auto body = FindSection(lines, section)) {
            if (const auto at = FindKey(lines, body->first, body->second, key)) {
                value = Unquoted(KeyLine(lines[*at].text)->second);
            }
        }
    }
    const int count = static_cast<int>(std::min<qsizetype>(value.size(), size - 1));
    if (buffer.size() < size) {
        buffer.resize(size, QLatin1Char(' '));
    }
    buffer.replace(0, count, value.left(count));
    buffer[count] = QChar(u'\0');
    return count;
}

bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& fileName) {
    // A line break would split the entry and make the file say something else.
    if (HoldsLineBreak(section) || HoldsLineBreak(key) || HoldsLineBreak(value) || key.contains(QLatin1Char('=')) ||
        section.contains(QLatin1Char(']'))) {
        errno = EINVAL;
        return false;
    }
    std::string path = ToFsPath(fileName).native();
    // Write through a link to the file it names, so the link stays a link.
    std::error_code ec;
    const auto resolved = std::filesystem::canonical(path, ec);
    if (!ec) {
        path = resolved.native();
    }
    struct stat st {};
    bool exists = false;
    if (!MayWrite(path, st, exists)) {
        return false;
    }
    QByteArray old;
    if (exists) {
        const auto bytes = ReadWhole(path);
        if (!bytes) {
            return false;
        }
        old = *bytes;
    }
    std::vector<Line> lines = SplitLines(old);
    // A new line takes the file's own line end; a new file gets CRLF.
    QByteArray eol = "\r\n";
    if (!lines.empty() && !lines.front().end.isEmpty()) {
        eol = lines.front().end;
    }
    const QByteArray entry = key.trimmed().toLocal8Bit() + '=' + value.toLocal8Bit();

    auto insertAfter = [&](std::size_t index, Line line) {
        // The line before the new one may be the file's last and lack its line end.
        if (index > 0 && lines[index - 1].end.isEmpty()) {
            lines[index - 1].end = eol;
        }
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(index), std::move(line));
    };

    if (const auto body = FindSection(lines, section)) {
        if (const auto at = FindKey(lines, body->first, body->second, key)) {
            lines[*at].text = entry;
        } else {
            // After the section's last non-blank line, so blank lines stay between sections.
            std::size_t after = body->second;
            while (after > body->first && Decode(lines[after - 1].text).trimmed().isEmpty()) {
                --after;
            }
            insertAfter(after, {entry, eol});
        }
    } else {
        insertAfter(lines.size(), {'[' + section.trimmed().toLocal8Bit() + ']', eol});
        insertAfter(lines.size(), {entry, eol});
    }

    QByteArray bytes;
    for (const Line& line : lines) {
        bytes += line.text + line.end;
    }
    if (exists && bytes == old) {
        return true;
    }
    const mode_t mode = exists ? (st.st_mode & 07777) : static_cast<mode_t>(0666 & ~[] {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return mask;
    }());
    return ReplaceFile(path, bytes, mode);
}
