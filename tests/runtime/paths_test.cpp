#include "runtime/paths.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(PathListing, MatchesOrdinaryFilesAndFoldersAsAsked) {
    TestFolder folder;
    WriteBytes(folder.File("big.bmp"), "x");
    WriteBytes(folder.File(".hidden.bmp"), "x");
    WriteBytes(folder.File("タイル é.bmp"), "x");
    ASSERT_TRUE(QDir(folder.Path()).mkdir("tiles"));
    ASSERT_TRUE(QDir(folder.Path()).mkdir("empty"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder.File("pipe.bmp")).constData(), 0644), 0);
    ASSERT_EQ(::symlink("nowhere.bmp", QFile::encodeName(folder.File("dangling.bmp")).constData()), 0);

    using K = ListingKind;
    struct Case {
        QString path;
        K kind;
        QString expected;
    };
    const QString p = folder.Path();
    const Case cases[] = {
        {p + "/big.bmp", K::FilesOnly, "big.bmp"},
        {p + "//big.bmp", K::FilesOnly, "big.bmp"},
        {p + "/nothing.bmp", K::FilesOnly, ""},
        {p + "/.hidden.bmp", K::FilesOnly, ""},           // hidden entries are not matched
        {p + "/.bmp", K::FilesOnly, ""},                  // the start-up default source
        {p + "/tiles", K::FilesOnly, ""},                 // a folder is no file
        {p + "/tiles", K::FilesAndFolders, "tiles"},
        {p + "/empty/", K::FilesAndFolders, "."},         // an existing empty folder lists itself
        {p + "/empty/", K::FilesOnly, ""},
        {p + "/missing/", K::FilesAndFolders, ""},
        {p + "/pipe.bmp", K::FilesOnly, ""},              // no ordinary file
        {p + "/dangling.bmp", K::FilesOnly, ""},
        {p + "/タイル é.bmp", K::FilesOnly, "タイル é.bmp"},
        {p + "/b?g.*", K::FilesOnly, "big.bmp"},
        {p + "/*.none", K::FilesOnly, ""},
        {"", K::FilesAndFolders, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PathListing(c.path, c.kind), c.expected) << c.path.toStdString();
    }
}

TEST(Paths, SeparatorAndProgramFolder) {
    EXPECT_TRUE(EndsWithSeparator("/a/b/"));
    EXPECT_FALSE(EndsWithSeparator("/a/b"));
    EXPECT_FALSE(EndsWithSeparator(""));
    {
        TestFolder folder;
        EXPECT_EQ(ProgramFolder(), folder.Path());
    }
    SetProgramFolder("");
    EXPECT_FALSE(ProgramFolder().isEmpty());
    EXPECT_EQ(FromFsPath(ToFsPath("/tmp/タイル")), "/tmp/タイル");
}

}  // namespace
