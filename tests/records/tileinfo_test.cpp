#include "records/tileinfo.h"
#include "runtime/runtimeerror.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

TEST(GetVar, GivesTheValueOrEmptyText) {
    TestFolder folder;
    WriteBytes(folder.File("info.ini"), "[MAIN]\r\nWidth=12\r\nEmpty=\r\nBlanks=  7  \r\nLong=" +
                                            QByteArray(600, 'v') + "\r\n[OTHER]\r\nNumFiles=3\r\n");
    struct Case {
        QString file;
        const char* key;
        QString expected;
    };
    const Case cases[] = {
        {folder.File("info.ini"), "Width", "12"},
        {folder.Path() + "//info.ini", "Width", "12"},   // doubled separator
        {folder.File("info.ini"), "NumFiles", ""},       // key only in another section
        {folder.File("info.ini"), "Empty", ""},
        {folder.File("info.ini"), "Blanks", "7"},
        {folder.File("info.ini"), "Long", QString(499, QLatin1Char('v'))},
        {folder.File("missing.ini"), "Width", ""},
        {folder.Path(), "Width", ""},                    // a folder is no file
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetVar(c.file, "MAIN", c.key), c.expected) << c.file.toStdString() << " " << c.key;
    }
}

TEST(GetVar, KeepsTheValuesOwnTrailingBlanksInsideQuotes) {
    TestFolder folder;
    WriteBytes(folder.File("info.ini"), "[MAIN]\nName=\"ab  \"\n");
    EXPECT_EQ(GetVar(folder.File("info.ini"), "MAIN", "Name"), "ab  ");
}

TEST(WriteVar, WritesReadsBackAndFailsSilently) {
    TestFolder folder;
    const QString file = folder.File("info.ini");
    WriteVar(file, "MAIN", "NumFiles", "6");
    EXPECT_EQ(ReadBytes(file), QByteArray("[MAIN]\r\nNumFiles=6\r\n"));
    WriteVar(file, "MAIN", "NumFiles", "16");
    EXPECT_EQ(ReadBytes(file), QByteArray("[MAIN]\r\nNumFiles=16\r\n"));
    EXPECT_EQ(GetVar(folder.Path() + "//info.ini", "MAIN", "NumFiles"), "16");

    WriteBytes(file, "[MAIN]\r\nWidth=7\r\n");
    WriteVar(file, "MAIN", "NumFiles", "6");
    EXPECT_EQ(GetVar(file, "MAIN", "Width"), "7");
    EXPECT_EQ(GetVar(file, "MAIN", "NumFiles"), "6");

    WriteVar(folder.Path() + "/missing/info.ini", "MAIN", "NumFiles", "1");
    EXPECT_FALSE(QFileInfo::exists(folder.Path() + "/missing"));

    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0444), 0);
    const QByteArray before = ReadBytes(file);
    WriteVar(file, "MAIN", "NumFiles", "99");
    EXPECT_EQ(ReadBytes(file), before);
}

// The count is found whether or not the folder's path ends in a separator, is read back as
// written, and one that cannot be written names the folder's info.ini.
TEST(TileCount, ReadsWhatWasWrittenAndNamesTheFileItCouldNotWrite) {
    TestFolder folder;
    ASSERT_TRUE(QDir(folder.Path()).mkdir("tiles"));
    EXPECT_EQ(ReadTileCount(folder.File("tiles")), "");
    WriteTileCount(folder.File("tiles"), 4294967296);
    for (const QString& tiles : {folder.File("tiles"), folder.File("tiles/")}) {
        EXPECT_EQ(TileInfoFile(tiles), folder.File("tiles/info.ini"));
        EXPECT_EQ(ReadTileCount(tiles), "4294967296") << tiles.toStdString();
    }
    try {
        WriteTileCount(folder.File("missing/"), 7);
        ADD_FAILURE() << "a count was written into a missing folder";
    } catch (const RuntimeError& failure) {
        EXPECT_EQ(failure.Number(), Err::FileNotFound);
        EXPECT_EQ(failure.File(), folder.File("missing/info.ini"));
    }
}

}  // namespace
