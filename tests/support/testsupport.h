#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QImage>
#include <QTemporaryDir>

#include <ostream>
#include <optional>
#include <string>
#include <vector>

// Readable QString values in test failures.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

// A fresh folder for one test, removed afterwards; also the program folder while it lives,
// so Errors.Log and the start-up info.ini land inside it.
class TestFolder {
public:
    TestFolder();
    ~TestFolder();
    QString Path() const { return dir_.path(); }
    // Path() + "/" + name
    QString File(const QString& name) const;

private:
    QTemporaryDir dir_;
};

// Records every message box text instead of showing the box.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    const QStringList& Messages() const { return messages_; }

private:
    QStringList messages_;
};

// Sets LC_NUMERIC for the scope of a test ("C" or a "," locale such as de_DE.UTF-8).
// Available() is false when the machine lacks the locale.
class NumericLocale {
public:
    explicit NumericLocale(const char* name);
    ~NumericLocale();
    bool Available() const { return ok_; }

private:
    std::string old_;
    bool ok_ = false;
};

// A "," decimal locale present on this machine, or nullptr.
const char* CommaLocale();

QByteArray ReadBytes(const QString& path);
void WriteBytes(const QString& path, const QByteArray& bytes);

// The shared BMP Suite folder, or "" when it is absent.
QString BmpSuiteFolder();

// A small file system of its own, for as long as the test runs.
class SmallDisk {
public:
    SmallDisk(const QString& path, const char* size);
    ~SmallDisk();
    bool Mounted() const { return mounted_; }
    // Fills what is left with a file named filler.
    void Fill() const;

private:
    QByteArray path_;
    bool mounted_ = false;
};

// Sets an environment variable for one scope; the old value (or its absence) comes back after.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QString& value);
    ~ScopedEnv();

private:
    std::string name_;
    QByteArray old_;
    bool had_;
};

// A folder this user cannot write, like an installed program's, holding info.ini with the
// given bytes unless they are empty: a read-only tmpfs for root (whom permission bits do not
// stop), else a folder without write bits. Available() is false where neither can be made.
class ReadOnlyFolder {
public:
    ReadOnlyFolder(const QString& path, const QByteArray& infoIni);
    ~ReadOnlyFolder();
    bool Available() const { return ok_; }

private:
    QByteArray path_;
    bool mounted_ = false;
    bool ok_ = false;
};

// An animated PNG read back by Pillow of Debian's own Python: each frame as the whole
// canvas Pillow composes, and its duration in ms. nullopt where Pillow is missing or fails
// (why says which).
struct PillowFrame {
    QImage image;
    double duration;
};
std::optional<std::vector<PillowFrame>> PillowApngFrames(const QString& path, const QString& scratch, QString& why);
