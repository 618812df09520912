#include "runtime/profile.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <sys/stat.h>

namespace {

QString Read(const QString& file, const QString& section, const QString& key, const QString& fallback = {}) {
    QString buffer(500, QLatin1Char(' '));
    const int count = GetPrivateProfileString(section, key, fallback, buffer, 500, file);
    return buffer.left(count);
}

TEST(Profile, ReadsHandWrittenFilesAsWindowsDoes) {
    const QByteArray file =
        "; a comment line\r\n"
        "[Other]\r\n"
        "NumFiles=99\r\n"
        "  [ main ]  \r\n"
        ";NumFiles=1\r\n"
        "  numfiles  =   16   \r\n"
        "NumFiles=17\r\n"
        "Quoted=\"  a b  \"\r\n"
        "Single='x'\r\n"
        "Mismatched=\"x'\r\n"
        "Empty=\r\n"
        "NoEquals\r\n"
        "[MAIN]\r\n"
        "Late=1\r\n";
    struct Case {
        const char* section;
        const char* key;
        const char* expected;
    };
    const Case cases[] = {
        {"MAIN", "NumFiles", "16"},         // case and blanks around names and value; first key wins
        {"Main", "NUMFILES", "16"},         // names without regard to case
        {"Other", "NumFiles", "99"},        // the other section is separate
        {"MAIN", "Quoted", "  a b  "},      // one pair of quotes removed, blanks inside kept
        {"MAIN", "Single", "x"},            // single quotes too
        {"MAIN", "Mismatched", "\"x'"},     // quotes that do not match stay
        {"MAIN", "Empty", ""},              // empty value
        {"MAIN", "NoEquals", "fallback"},   // a line without "=" is no key
        {"MAIN", "Late", "fallback"},       // the first matching section wins
        {"MAIN", "Missing", "fallback"},
        {"Nowhere", "NumFiles", "fallback"},
    };
    for (const QByteArray& ending : {QByteArray("\r\n"), QByteArray("\n")}) {
        TestFolder folder;
        QByteArray bytes = file;
        bytes.replace("\r\n", ending);
        WriteBytes(folder.File("info.ini"), bytes);
        for (const Case& c : cases) {
            EXPECT_EQ(Read(folder.File("info.ini"), c.section, c.key, QStringLiteral("fallback")),
                      QString::fromUtf8(c.expected))
                << c.section << "/" << c.key << (ending.size() == 1 ? " LF" : " CRLF");
        }
        // A doubled separator names the same file.
        EXPECT_EQ(Read(folder.Path() + "//info.ini", "MAIN", "NumFiles"), "16");
    }
}

TEST(Profile, ReadCutsLongValuesAndLeavesTheRestOfTheBuffer) {
    TestFolder folder;
    WriteBytes(folder.File("a.ini"), "[MAIN]\nLong=" + QByteArray(600, 'x') + "\n");
    QString buffer(500, QLatin1Char('#'));
    EXPECT_EQ(GetPrivateProfileString("MAIN", "Long", "", buffer, 500, folder.File("a.ini")), 499);
    EXPECT_EQ(buffer.left(499), QString(499, QLatin1Char('x')));
    EXPECT_EQ(buffer[499], QChar(u'\0'));

    QString small(10, QLatin1Char('#'));
    EXPECT_EQ(GetPrivateProfileString("MAIN", "Nope", "ab", small, 10, folder.File("a.ini")), 2);
    EXPECT_EQ(small, QStringLiteral("ab") + QChar(u'\0') + QStringLiteral("#######"));
    // A folder or a missing file reads as the default.
    EXPECT_EQ(Read(folder.Path(), "MAIN", "Long", "d"), "d");
    EXPECT_EQ(Read(folder.File("none.ini"), "MAIN", "Long", "d"), "d");
}

TEST(Profile, WriteChangesOnlyTheKeyAndKeepsEveryOtherByte) {
    struct Case {
        const char* name;
        QByteArray before;
        const char* section;
        const char* key;
        const char* value;
        QByteArray after;
    };
    const Case cases[] = {
        {"replace in place, CRLF kept", "; c\r\n[MAIN]\r\nWidth=7\r\nNumFiles=3\r\n\r\n[X]\r\nA=1\r\n", "MAIN",
         "numfiles", "16", "; c\r\n[MAIN]\r\nWidth=7\r\nnumfiles=16\r\n\r\n[X]\r\nA=1\r\n"},
        {"add key at end of section, LF kept", "[MAIN]\nWidth=7\n\n[X]\nA=1\n", "MAIN", "NumFiles", "6",
         "[MAIN]\nWidth=7\nNumFiles=6\n\n[X]\nA=1\n"},
        {"add section at end", "[X]\r\nA=1\r\n", "MAIN", "NumFiles", "6", "[X]\r\nA=1\r\n[MAIN]\r\nNumFiles=6\r\n"},
        {"last line without line end", "[MAIN]\nWidth=7", "MAIN", "NumFiles", "6", "[MAIN]\nWidth=7\nNumFiles=6\n"},
        {"comment with the key's name kept", "[MAIN]\n;NumFiles=1\nNumFiles=2\n", "MAIN", "NumFiles", "3",
         "[MAIN]\n;NumFiles=1\nNumFiles=3\n"},
        {"empty file", "", "MAIN", "NumFiles", "0", "[MAIN]\r\nNumFiles=0\r\n"},
    };
    for (const Case& c : cases) {
        TestFolder folder;
        WriteBytes(folder.File("info.ini"), c.before);
        EXPECT_TRUE(WritePrivateProfileString(c.section, c.key, c.value, folder.File("info.ini"))) << c.name;
        EXPECT_EQ(ReadBytes(folder.File("info.ini")), c.after) << c.name;
        EXPECT_EQ(Read(folder.File("info.ini"), c.section, c.key), c.value) << c.name;
        // Nothing is left beside the file.
        EXPECT_EQ(QDir(folder.Path()).entryList(QDir::Files | QDir::Hidden), QStringList{"info.ini"}) << c.name;
    }
}

TEST(Profile, NewFileAndFailedWrites) {
    TestFolder folder;
    EXPECT_TRUE(WritePrivateProfileString("MAIN", "NumFiles", "6", folder.Path() + "//new.ini"));
    EXPECT_EQ(ReadBytes(folder.File("new.ini")), QByteArray("[MAIN]\r\nNumFiles=6\r\n"));
    EXPECT_TRUE(WritePrivateProfileString("MAIN", "NumFiles", "7", folder.File("new.ini")));
    EXPECT_EQ(ReadBytes(folder.File("new.ini")), QByteArray("[MAIN]\r\nNumFiles=7\r\n"));

    // A read-only file stays as it was.
    WriteBytes(folder.File("ro.ini"), "[MAIN]\nNumFiles=1\n");
    ASSERT_EQ(::chmod(QFile::encodeName(folder.File("ro.ini")).constData(), 0444), 0);
    EXPECT_FALSE(WritePrivateProfileString("MAIN", "NumFiles", "2", folder.File("ro.ini")));
    EXPECT_EQ(ReadBytes(folder.File("ro.ini")), QByteArray("[MAIN]\nNumFiles=1\n"));

    // A missing folder gets nothing created.
    EXPECT_FALSE(WritePrivateProfileString("MAIN", "NumFiles", "2", folder.Path() + "/missing/info.ini"));
    EXPECT_FALSE(QFileInfo::exists(folder.Path() + "/missing"));

    // A value with a line break would add a line the caller never wrote.
    EXPECT_FALSE(WritePrivateProfileString("MAIN", "NumFiles", "1\n[Evil]", folder.File("new.ini")));
    EXPECT_EQ(ReadBytes(folder.File("new.ini")), QByteArray("[MAIN]\r\nNumFiles=7\r\n"));

    // The mode of an existing file is kept.
    ASSERT_EQ(::chmod(QFile::encodeName(folder.File("new.ini")).constData(), 0640), 0);
    EXPECT_TRUE(WritePrivateProfileString("MAIN", "Width", "5", folder.File("new.ini")));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(folder.File("new.ini")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(Profile, NonAsciiFolders) {
    for (const char* name : {"with blank", "é", "タイル"}) {
        TestFolder folder;
        const QString sub = folder.Path() + "/" + QString::fromUtf8(name);
        ASSERT_TRUE(QDir().mkpath(sub));
        EXPECT_TRUE(WritePrivateProfileString("MAIN", "NumFiles", "16", sub + "/info.ini")) << name;
        EXPECT_EQ(Read(sub + "//info.ini", "MAIN", "NumFiles"), "16") << name;
    }
}

}  // namespace
