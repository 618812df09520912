#include "support/testsupport.h"

#include "runtime/messagebox.h"
#include "runtime/paths.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <clocale>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

TestFolder::TestFolder() { SetProgramFolder(dir_.path()); }

TestFolder::~TestFolder() {
    SetProgramFolder(QString());
    // Restore write bits that a test took away, so the folder can be removed.
    QDir(dir_.path()).setFilter(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(ToFsPath(dir_.path()), ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
}

QString TestFolder::File(const QString& name) const { return dir_.path() + "/" + name; }

MessageRecorder::MessageRecorder() {
    SetMessageBoxHandler([this](const QString& text) { messages_.append(text); });
}

MessageRecorder::~MessageRecorder() { SetMessageBoxHandler(nullptr); }

NumericLocale::NumericLocale(const char* name) {
    if (const char* current = std::setlocale(LC_NUMERIC, nullptr)) {
        old_ = current;
    }
    ok_ = name != nullptr && std::setlocale(LC_NUMERIC, name) != nullptr;
}

NumericLocale::~NumericLocale() { std::setlocale(LC_NUMERIC, old_.empty() ? "C" : old_.c_str()); }

const char* CommaLocale() {
    static const char* found = [] () -> const char* {
        const std::string old = std::setlocale(LC_NUMERIC, nullptr);
        const char* result = nullptr;
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8"}) {
            if (std::setlocale(LC_NUMERIC, name) != nullptr) {
                result = name;
                break;
            }
        }
        std::setlocale(LC_NUMERIC, old.c_str());
        return result;
    }();
    return found;
}

QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray();
    }
    return file.readAll();
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(bytes);
    }
}

QString BmpSuiteFolder() {
    const QString folder = QStringLiteral(TILVEX_SHARED_DIR "/bmpsuite");
    return QDir(folder).exists() ? folder : QString();
}

SmallDisk::SmallDisk(const QString& path, const char* size) : path_(QFile::encodeName(path)) {
    QDir().mkpath(path);
    const std::string options = std::string("size=") + size;
    mounted_ = ::mount("tmpfs", path_.constData(), "tmpfs", 0, options.c_str()) == 0;
}

SmallDisk::~SmallDisk() {
    if (mounted_) {
        ::umount2(path_.constData(), MNT_DETACH);
    }
}

void SmallDisk::Fill() const {
    QFile filler(QFile::decodeName(path_) + "/filler");
    if (filler.open(QIODevice::WriteOnly | QIODevice::Append)) {
        while (filler.write(QByteArray(4096, 'x')) > 0 && filler.flush()) {
        }
        // The last page may still take a few bytes.
        while (filler.write("x", 1) > 0 && filler.flush()) {
        }
    }
}

ScopedEnv::ScopedEnv(const char* name, const QString& value)
    : name_(name), old_(qgetenv(name)), had_(qEnvironmentVariableIsSet(name)) {
    qputenv(name, value.toLocal8Bit());
}

ScopedEnv::~ScopedEnv() {
    if (had_) {
        qputenv(name_.c_str(), old_);
    } else {
        qunsetenv(name_.c_str());
    }
}

ReadOnlyFolder::ReadOnlyFolder(const QString& path, const QByteArray& infoIni) : path_(QFile::encodeName(path)) {
    QDir().mkpath(path);
    const bool root = ::geteuid() == 0;
    if (root) {
        mounted_ = ::mount("tmpfs", path_.constData(), "tmpfs", 0, "size=64k") == 0;
        if (!mounted_) {
            return;
        }
    }
    if (!infoIni.isEmpty()) {
        WriteBytes(path + "/info.ini", infoIni);
    }
    if (root) {
        ok_ = ::mount("tmpfs", path_.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k") == 0;
    } else {
        ok_ = ::chmod(path_.constData(), 0555) == 0;
    }
    ok_ = ok_ && ::access(path_.constData(), W_OK) != 0;
}

ReadOnlyFolder::~ReadOnlyFolder() {
    if (mounted_) {
        ::umount2(path_.constData(), MNT_DETACH);
    } else {
        ::chmod(path_.constData(), 0755);
    }
}

std::optional<std::vector<PillowFrame>> PillowApngFrames(const QString& path, const QString& scratch, QString& why) {
    static const char* script =
        "import sys\nfrom PIL import Image\n"
        "im = Image.open(sys.argv[1])\n"
        "print(im.format, getattr(im, 'n_frames', 1))\n"
        "for k in range(getattr(im, 'n_frames', 1)):\n"
        "    im.seek(k)\n"
        "    im.convert('RGBA').save('%s/frame%d.png' % (sys.argv[2], k))\n"
        "    print(im.info.get('duration'))\n";
    QProcess python;
    python.start("/usr/bin/python3", {"-c", script, path, scratch});
    if (!python.waitForFinished(120000) || python.exitCode() != 0) {
        why = QStringLiteral("Pillow (Debian python3-pil) did not read %1: %2").arg(path, QString::fromLocal8Bit(python.readAllStandardError()));
        return std::nullopt;
    }
    const QStringList lines = QString::fromLocal8Bit(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    std::vector<PillowFrame> frames;
    for (qsizetype k = 1; k < lines.size(); ++k) {
        frames.push_back({QImage(QStringLiteral("%1/frame%2.png").arg(scratch).arg(k - 1)), lines[k].toDouble()});
    }
    if (lines.isEmpty() || !lines[0].startsWith("PNG ")) {
        why = QStringLiteral("Pillow read %1 as %2").arg(path, lines.value(0));
        return std::nullopt;
    }
    return frames;
}
