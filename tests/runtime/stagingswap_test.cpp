// A set of files replacing its old version in a folder that holds other things: the folder
// swaps with its new version in one step, and everything else in it comes through as it was.
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"
#include "runtime/stagingfolder.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct stat statOf(const QString& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(ToFsPath(path).c_str(), &st), 0) << path.toStdString();
    return st;
}

// Names starting .tilvex- anywhere under the folder: what a stage would leave.
QStringList Litter(const QString& folder) {
    QStringList found;
    for (const QString& name : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (name.startsWith(".tilvex-")) {
            found += folder + "/" + name;
        }
    }
    return found;
}

void stage(const QString& destination, const QByteArray& bytes) {
    StagingFolder staged(destination, StagingFolder::Replace::Folder);
    staged.Write("a.json", bytes.constData(), static_cast<std::size_t>(bytes.size()));
    staged.Write("a.png", "png", 3);
    staged.Commit([](const QString&) {});
}

TEST(StagingSwap, SetReplacedWholeAndEverythingElseKept) {
    struct Case {
        const char* name;
        const char* destination;  // under the test folder
        bool swapped;             // the folder itself replaced in one step
    };
    const Case cases[] = {
        {"the folder", "out", true},
        {"a link to the folder, which stays a link", "link", true},
        {"the folder with a trailing separator", "out/", true},
        {"a folder that is not there yet", "fresh/", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestFolder folder;
        const QString out = folder.File("out");
        ASSERT_TRUE(QDir().mkpath(out + "/art/locked"));
        WriteBytes(out + "/a.json", "old");
        WriteBytes(out + "/notes.txt", "the user's");
        WriteBytes(out + "/art/hero.png", "hero");
        WriteBytes(out + "/art/locked/x.txt", "x");
        ASSERT_TRUE(QFile::link("notes.txt", out + "/notes.link"));
        ASSERT_TRUE(QFile::link("out", folder.File("link")));
        ASSERT_EQ(::chmod(ToFsPath(out + "/art/locked").c_str(), 0555), 0);
        ASSERT_EQ(::chmod(ToFsPath(out + "/art").c_str(), 0750), 0);
        ASSERT_EQ(::chmod(ToFsPath(out).c_str(), 0751), 0);
        const struct stat before = statOf(out);
        const struct stat notes = statOf(out + "/notes.txt");
        const struct stat hero = statOf(out + "/art/hero.png");

        stage(folder.File(c.destination), "new");

        const QString written = QFileInfo(folder.File(c.destination)).canonicalFilePath();
        EXPECT_EQ(ReadBytes(written + "/a.json"), "new");
        EXPECT_EQ(ReadBytes(written + "/a.png"), "png");
        EXPECT_TRUE(QFileInfo(folder.File("link")).isSymLink());
        EXPECT_EQ(statOf(out).st_ino != before.st_ino, c.swapped);
        EXPECT_EQ(statOf(out).st_mode & 07777, 0751u);
        EXPECT_EQ(statOf(out + "/notes.txt").st_ino, notes.st_ino);
        EXPECT_EQ(statOf(out + "/art/hero.png").st_ino, hero.st_ino);
        EXPECT_EQ(ReadBytes(out + "/art/locked/x.txt"), "x");
        EXPECT_EQ(statOf(out + "/art").st_mode & 07777, 0750u);
        EXPECT_EQ(statOf(out + "/art/locked").st_mode & 07777, 0555u);
        EXPECT_EQ(QFileInfo(out + "/notes.link").symLinkTarget(), out + "/notes.txt");
        EXPECT_EQ(Litter(folder.Path()) + Litter(out) + Litter(folder.File("fresh")), QStringList());
        ::chmod(ToFsPath(out + "/art/locked").c_str(), 0755);
    }
}

// A namesake the set cannot replace (a folder) is refused before anything changes.
TEST(StagingSwap, RefusedSetChangesNothingAndLeavesNoStage) {
    TestFolder folder;
    const QString out = folder.File("out");
    ASSERT_TRUE(QDir().mkpath(out + "/a.png"));
    WriteBytes(out + "/a.json", "old");
    const struct stat before = statOf(out);
    EXPECT_THROW(stage(out, "new"), RuntimeError);
    EXPECT_EQ(ReadBytes(out + "/a.json"), "old");
    EXPECT_EQ(statOf(out).st_ino, before.st_ino);
    EXPECT_EQ(Litter(folder.Path()) + Litter(out), QStringList());
}

}  // namespace
