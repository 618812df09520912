// An export into a folder that holds an earlier one, killed at each of its file steps: the
// folder holds the whole old set or the whole new one, what else it holds stays, and the next
// run leaves no stage of the killed one behind.
#include "tilvexprocess.h"

#include <QDirIterator>
#include <QImage>
#include <QStandardPaths>

#include <map>

namespace {

using Files = std::map<QString, QByteArray>;

// Every file under the folder by its relative path; hidden ones too.
Files filesIn(const QString& folder) {
    Files files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files[QDir(folder).relativeFilePath(path)] = ReadBytes(path);
    }
    return files;
}

QStringList hiddenIn(const QString& folder) {
    return QDir(folder).entryList({".tilvex-*"}, QDir::AllEntries | QDir::Hidden | QDir::System);
}

class ExportSets : public Tilvex {
protected:
    // A level cut into the map vN/m.tmx over a tileset of its own; each version another size
    // and other pixels, so that every file of the export differs between them.
    QString level(int version) {
        QImage picture(80 - 16 * version, 48, QImage::Format_RGBA8888);
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                picture.setPixel(x, y, qRgba((x / 16) * 60 + version * 7, (y / 16) * 70, version * 90, 255));
            }
        }
        const QString png = folder_.File(QStringLiteral("level%1.png").arg(version));
        EXPECT_TRUE(picture.save(png));
        const QString map = folder_.File(QStringLiteral("v%1/m.tmx").arg(version));
        EXPECT_EQ(Run({"split", png, folder_.File(QStringLiteral("cut%1").arg(version)), "--tile", "16", "--format", "png",
                       "--unique", "--map", map, "-q"})
                      .status,
                  0);
        return map;
    }
};

TEST_F(ExportSets, KilledAtEachFileStepLeavesOneWholeSetAndTheUsersFiles) {
    const QString strace = QStandardPaths::findExecutable("strace");
    if (strace.isEmpty()) {
        GTEST_SKIP() << "strace is not installed";
    }
    const QStringList traced{"env", "ASAN_OPTIONS=detect_leaks=0", strace, "-f"};
    const QString maps[] = {level(1), level(2)};
    const QString out = folder_.File("game/out");
    const Files user = {{"notes.txt", "the user's"}, {"art/hero.png", "hero"}};
    for (const char* engine : {"phaser", "godot", "ldtk"}) {
        SCOPED_TRACE(engine);
        const auto exportOf = [&](int version, const QString& into) {
            return QStringList{"export", maps[version], "--to", engine, "--out", into, "-q"};
        };
        Files sets[2];
        for (int version : {0, 1}) {
            const QString reference = folder_.File(QStringLiteral("ref-%1-%2").arg(engine).arg(version));
            ASSERT_EQ(Run(exportOf(version, reference)).status, 0);
            sets[version] = filesIn(reference);
        }
        QDir(folder_.File("game")).removeRecursively();
        ASSERT_EQ(Run(exportOf(0, out)).status, 0);
        for (const auto& [name, bytes] : user) {
            ASSERT_TRUE(QDir().mkpath(QFileInfo(out + "/" + name).path()));
            WriteBytes(out + "/" + name, bytes);
        }
        // How often the run takes each file step, from a whole run.
        const QString counts = folder_.File("counts");
        ASSERT_EQ(RunWrapped(traced + QStringList{"-c", "-o", counts, "-e", "trace=mkdirat,linkat,renameat,renameat2,unlinkat"},
                             exportOf(1, out))
                      .status,
                  0);
        ASSERT_EQ(Run(exportOf(0, out)).status, 0);
        int kills = 0;
        for (const QByteArray& line : ReadBytes(counts).split('\n')) {
            const QList<QByteArray> words = line.simplified().split(' ');
            // % time, seconds, usecs/call, calls, [errors,] syscall
            if (words.size() < 5 || !words.last().contains("at")) {
                continue;
            }
            const QString call = QString::fromLatin1(words.last());
            const int calls = words[3].toInt();
            for (int n = 1; n <= calls; ++n) {
                SCOPED_TRACE(QStringLiteral("killed at %1 number %2").arg(call).arg(n).toStdString());
                RunWrapped(traced + QStringList{"-o", "/dev/null", "-e", "trace=" + call, "-e",
                                                QStringLiteral("inject=%1:signal=KILL:when=%2").arg(call).arg(n)},
                           exportOf(1, out));
                ++kills;
                Files now = filesIn(out);
                for (const auto& [name, bytes] : user) {
                    EXPECT_EQ(now[name], bytes) << name.toStdString();
                    now.erase(name);
                }
                EXPECT_TRUE(now == sets[0] || now == sets[1]) << "a mixed or torn set";
                ASSERT_EQ(Run(exportOf(0, out)).status, 0);
                EXPECT_EQ(hiddenIn(folder_.File("game")) + hiddenIn(out), QStringList());
            }
        }
        EXPECT_GT(kills, 3);
    }
}

}  // namespace
