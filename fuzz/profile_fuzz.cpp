// Feeds arbitrary file bytes to the profile reader and writer: reading never fails, a value
// written reads back unchanged, and no other byte of the file changes.
// sources: runtime/profile.cpp runtime/atomicfile.cpp runtime/paths.cpp runtime/descriptor.cpp runtime/runtimeerror.cpp
// options: -max_len=4096

#include "runtime/profile.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const QString& ScratchPath() {
    static const QString path = [] {
        // In memory where there is such a folder: every write syncs its file.
        std::string name = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/profile_fuzz_XXXXXX" : "/tmp/profile_fuzz_XXXXXX";
        const int fd = ::mkstemp(name.data());
        if (fd < 0) {
            std::abort();
        }
        ::close(fd);
        static const std::string keep = name;
        std::atexit([] { ::unlink(keep.c_str()); });
        return QString::fromStdString(name);
    }();
    return path;
}

void Store(const QByteArray& bytes) {
    QFile file(ScratchPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        std::abort();
    }
}

QByteArray Load() {
    QFile file(ScratchPath());
    if (!file.open(QIODevice::ReadOnly)) {
        std::abort();
    }
    return file.readAll();
}

[[noreturn]] void Fail(const char* what, const QByteArray& before, const QByteArray& after) {
    std::fprintf(stderr, "%s\nbefore: %s\nafter:  %s\n", what, before.toPercentEncoding().constData(),
                 after.toPercentEncoding().constData());
    std::abort();
}

// What a write may add: the entry, a section line, line ends.
bool OnlyAdded(QByteArray middle, const QByteArray& entry, const QByteArray& sectionLine) {
    middle.replace(entry, "");
    middle.replace(sectionLine, "");
    middle.replace("\r", "");
    middle.replace("\n", "");
    return middle.isEmpty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    static const char* const sections[] = {"MAIN", "main", " Main ", "Other", "S p"};
    static const char* const keys[] = {"NumFiles", "numfiles", "Width", "K", "a b"};
    const char* section = sections[data[0] % 5];
    const char* key = keys[(data[0] / 5) % 5];
    // A value that a profile file keeps as it is: no blanks at its ends, no quotes, no breaks.
    QByteArray value;
    for (int i = 0; i < (data[1] % 12) + 1; ++i) {
        value += "0123456789abcXYZ._-"[(data[1] * 7 + i * 13) % 19];
    }
    const QByteArray before(reinterpret_cast<const char*>(data + 2), static_cast<qsizetype>(size - 2));
    Store(before);

    QString buffer(64, QLatin1Char(' '));
    GetPrivateProfileString(section, key, "", buffer, 64, ScratchPath());

    if (!WritePrivateProfileString(section, key, QString::fromLatin1(value), ScratchPath())) {
        if (Load() != before) {
            Fail("a refused write changed the file", before, Load());
        }
        return 0;
    }
    const QByteArray after = Load();
    QString read(600, QLatin1Char(' '));
    const int count = GetPrivateProfileString(section, key, "<none>", read, 600, ScratchPath());
    if (read.left(count) != QString::fromLatin1(value)) {
        Fail("the value does not read back", before, after);
    }
    // The bytes that changed lie between a common head and a common tail, and are the
    // replaced line's on the old side and nothing but the new entry on the new side.
    qsizetype head = 0;
    while (head < before.size() && head < after.size() && before[head] == after[head]) {
        ++head;
    }
    qsizetype tail = 0;
    while (tail < before.size() - head && tail < after.size() - head &&
           before[before.size() - 1 - tail] == after[after.size() - 1 - tail]) {
        ++tail;
    }
    const QByteArray oldPart = before.mid(head, before.size() - head - tail);
    const QByteArray newPart = after.mid(head, after.size() - head - tail);
    if (oldPart.contains('\n')) {
        Fail("a write changed more than one line", before, after);
    }
    const QByteArray entry = QByteArray(key).trimmed() + "=" + value;
    const QByteArray sectionLine = "[" + QByteArray(section).trimmed() + "]";
    // The changed part on the new side, widened to whole lines, holds only what was added.
    qsizetype from = head;
    qsizetype to = after.size() - tail;
    // A line end given to the old last line belongs to neither line.
    while (oldPart.isEmpty() && from < to && (after[from] == '\r' || after[from] == '\n')) {
        ++from;
    }
    while (from > 0 && after[from - 1] != '\n') {
        --from;
    }
    while (to > from && to < after.size() && after[to - 1] != '\n') {
        ++to;
    }
    if (!OnlyAdded(after.mid(from, to - from), entry, sectionLine) && !newPart.isEmpty()) {
        Fail("a write changed other bytes", before, after);
    }
    return 0;
}
