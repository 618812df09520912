#include "records/errorlog.h"

#include "records/logtime.h"
#include "runtime/paths.h"
#include "support/testsupport.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QTime>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <vector>

namespace {

const QByteArray kSeparator(31, '-');

QString LogPath(const TestFolder& folder) { return folder.File("Errors.Log"); }

bool Exists(const QString& path) { return QFileInfo::exists(path); }

// Splits a log's text at CRLF; a bare CR or LF anywhere fails the test.
QList<QByteArray> Lines(const QByteArray& bytes) {
    QList<QByteArray> lines = bytes.split('\n');
    EXPECT_TRUE(lines.last().isEmpty()) << "the log does not end with a line end";
    lines.removeLast();
    for (QByteArray& line : lines) {
        EXPECT_TRUE(line.endsWith('\r')) << "line without CR: " << line.constData();
        line.chop(1);
        EXPECT_FALSE(line.contains('\r')) << "stray CR: " << line.constData();
    }
    return lines;
}

// Line 2: the local date in the short date format, one blank, the time of day to the second.
void ExpectDateTimeLine(const QByteArray& line, const QDate& before, const QDate& after) {
    const QString text = QString::fromLocal8Bit(line);
    const QLocale locale = QLocale::system();
    const QString dateBefore = locale.toString(before, QLocale::ShortFormat) + ' ';
    const QString dateAfter = locale.toString(after, QLocale::ShortFormat) + ' ';
    ASSERT_TRUE(text.startsWith(dateBefore) || text.startsWith(dateAfter)) << text.toStdString();
    const QString time = text.mid(text.startsWith(dateBefore) ? dateBefore.size() : dateAfter.size());
    static const QRegularExpression clock(QStringLiteral("^(\\d{1,2}):(\\d{2}):(\\d{2})( ?[AaPp]\\.? ?[Mm]\\.?)?$"));
    const QRegularExpressionMatch match = clock.match(time);
    ASSERT_TRUE(match.hasMatch()) << "time of day to the second expected: " << time.toStdString();
    EXPECT_LE(match.captured(2).toInt(), 59);
    EXPECT_LE(match.captured(3).toInt(), 59);
}

// The seven lines of one entry, the date line aside.
void ExpectEntry(const QList<QByteArray>& lines, qsizetype first, const QByteArray& file,
                 const QByteArray& procedure, const QByteArray& number, const QByteArray& description) {
    ASSERT_GE(lines.size(), first + 7);
    EXPECT_EQ(lines[first], kSeparator);
    EXPECT_EQ(lines[first + 2], "File: " + file);
    EXPECT_EQ(lines[first + 3], "Procedure: " + procedure);
    EXPECT_EQ(lines[first + 4], "Error #" + number);
    EXPECT_EQ(lines[first + 5], "Description: " + description);
    EXPECT_EQ(lines[first + 6], QByteArray());
}

}  // namespace

TEST(ErrorLog, FileNotFoundEntryIsSevenLines) {
    TestFolder folder;
    ASSERT_FALSE(Exists(LogPath(folder)));
    const QDate before = QDate::currentDate();
    LogError("frmConverter", "Convert", 53, "File not found");
    const QDate after = QDate::currentDate();
    const QList<QByteArray> lines = Lines(ReadBytes(LogPath(folder)));
    ASSERT_EQ(lines.size(), 7);
    ExpectEntry(lines, 0, "frmConverter", "Convert", "53", "File not found");
    ExpectDateTimeLine(lines[1], before, after);
}

TEST(ErrorLog, ArgumentsAreWrittenAsTheyAre) {
    struct EntryCase {
        const char* name;
        QString file;
        QString procedure;
        std::int32_t number;
        QString description;
        QByteArray numberText;
        bool commaLocale;
    };
    const std::vector<EntryCase> cases = {
        {"empty description", "frmConverter", "Convert", 75, "", "75", false},
        {"blanks kept", "  frm  ", " Convert\t", 5, "  spaced  ", "5", false},
        {"largest number", "f", "p", INT_MAX, "d", "2147483647", false},
        {"number 1", "f", "p", 1, "d", "1", false},
        {"no grouping in a comma locale", "f", "p", 1234567, "d", "1234567", true},
        {"non-ASCII text", QStringLiteral("タイル"), "p", 481, QStringLiteral("Invalid picture é"), "481", false},
    };
    for (const EntryCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.commaLocale && CommaLocale() == nullptr) {
            continue;  // this machine has no "," locale
        }
        NumericLocale locale(c.commaLocale ? CommaLocale() : "C");
        ASSERT_TRUE(locale.Available());
        TestFolder folder;
        LogError(c.file, c.procedure, c.number, c.description);
        const QList<QByteArray> lines = Lines(ReadBytes(LogPath(folder)));
        ASSERT_EQ(lines.size(), 7);
        ExpectEntry(lines, 0, c.file.toUtf8(), c.procedure.toUtf8(), c.numberText, c.description.toUtf8());
    }
}

TEST(ErrorLog, EmptyDescriptionKeepsTheBlank) {
    TestFolder folder;
    LogError("frmConverter", "Convert", 70, QString());
    EXPECT_TRUE(ReadBytes(LogPath(folder)).endsWith("\r\nDescription: \r\n\r\n"));
}

TEST(ErrorLog, AppendsAfterExistingContentByteForByte) {
    const std::vector<QByteArray> olds = {
        QByteArray("old line\r\n"),
        QByteArray("no line end"),
        QByteArray("unix\nlines\n"),
        QByteArray("\x00\xFF\xFE binary\r", 12),
    };
    for (const QByteArray& old : olds) {
        SCOPED_TRACE(old.toHex().constData());
        TestFolder folder;
        WriteBytes(LogPath(folder), old);
        LogError("frmConverter", "Convert", 61, "Disk full");
        const QByteArray bytes = ReadBytes(LogPath(folder));
        ASSERT_TRUE(bytes.startsWith(old));
        const QList<QByteArray> lines = Lines(bytes.mid(old.size()));
        ASSERT_EQ(lines.size(), 7);
        ExpectEntry(lines, 0, "frmConverter", "Convert", "61", "Disk full");
    }
}

TEST(ErrorLog, TwoEntriesInARow) {
    TestFolder folder;
    LogError("frmConverter", "Convert", 53, "File not found");
    const QByteArray first = ReadBytes(LogPath(folder));
    LogError("frmConverter", "Convert", 481, "Invalid picture");
    const QByteArray both = ReadBytes(LogPath(folder));
    ASSERT_TRUE(both.startsWith(first));
    const QList<QByteArray> lines = Lines(both);
    ASSERT_EQ(lines.size(), 14);
    ExpectEntry(lines, 0, "frmConverter", "Convert", "53", "File not found");
    ExpectEntry(lines, 7, "frmConverter", "Convert", "481", "Invalid picture");
}

TEST(ErrorLog, NumberZeroWritesNothing) {
    {
        TestFolder folder;
        LogError("frmConverter", "Convert", 0, "Automation error");
        EXPECT_FALSE(Exists(LogPath(folder))) << "the log was created";
    }
    TestFolder folder;
    WriteBytes(LogPath(folder), "kept\r\n");
    LogError("frmConverter", "Convert", 0, "Automation error");
    EXPECT_EQ(ReadBytes(LogPath(folder)), QByteArray("kept\r\n"));
}

// The image layer's failures carry negative numbers; each is written as it is.
TEST(ErrorLog, NegativeNumbersAreRecordedAsTheyAre) {
    const std::vector<std::pair<std::int32_t, QByteArray>> numbers = {
        {-1, "-1"}, {-2147467259, "-2147467259"}, {-2147024809, "-2147024809"}, {INT_MIN, "-2147483648"}};
    for (const auto& [number, text] : numbers) {
        SCOPED_TRACE(number);
        TestFolder folder;
        WriteBytes(LogPath(folder), "kept\r\n");
        LogError("frmConverter", "Convert", number, "Automation error: unspecified failure (tile 3.bmp)");
        const QByteArray bytes = ReadBytes(LogPath(folder));
        ASSERT_TRUE(bytes.startsWith("kept\r\n"));
        const QList<QByteArray> lines = Lines(bytes.mid(6));
        ASSERT_EQ(lines.size(), 7);
        ExpectEntry(lines, 0, "frmConverter", "Convert", text, "Automation error: unspecified failure (tile 3.bmp)");
    }
}

// No write bits means read-only, even to root; a file with any write bit is written.
TEST(ErrorLog, ReadOnlyLogIsLeftUnchanged) {
    struct ModeCase {
        mode_t mode;
        bool written;
    };
    const std::vector<ModeCase> cases = {
        {0444, false}, {0400, false}, {0555, false}, {0000, false},
        {0644, true},  {0200, true},  {0464, true},  {0446, true},
    };
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(c.mode);
        TestFolder folder;
        const QByteArray old("existing entry\r\n");
        WriteBytes(LogPath(folder), old);
        ASSERT_EQ(::chmod(QFile::encodeName(LogPath(folder)).constData(), c.mode), 0);
        EXPECT_NO_THROW(LogError("frmConverter", "Convert", 70, "Permission denied"));
        ::chmod(QFile::encodeName(LogPath(folder)).constData(), 0644);
        const QByteArray bytes = ReadBytes(LogPath(folder));
        if (c.written) {
            ASSERT_TRUE(bytes.startsWith(old));
            EXPECT_EQ(Lines(bytes.mid(old.size())).size(), 7);
        } else {
            EXPECT_EQ(bytes, old);
        }
    }
}

TEST(ErrorLog, UnwritablePlacesAreIgnored) {
    {
        SCOPED_TRACE("program folder that does not exist");
        TestFolder folder;
        const QString gone = folder.File("gone");
        SetProgramFolder(gone);
        EXPECT_NO_THROW(LogError("frmConverter", "Convert", 53, "File not found"));
        EXPECT_FALSE(Exists(gone));
    }
    {
        SCOPED_TRACE("Errors.Log is a folder");
        TestFolder folder;
        ASSERT_TRUE(QDir(folder.Path()).mkdir("Errors.Log"));
        EXPECT_NO_THROW(LogError("frmConverter", "Convert", 53, "File not found"));
        EXPECT_TRUE(QFileInfo(LogPath(folder)).isDir());
    }
    {
        // With no reader, a plain open of a FIFO would wait for ever.
        SCOPED_TRACE("Errors.Log is a FIFO without a reader");
        TestFolder folder;
        ASSERT_EQ(::mkfifo(QFile::encodeName(LogPath(folder)).constData(), 0644), 0);
        EXPECT_NO_THROW(LogError("frmConverter", "Convert", 53, "File not found"));
    }
}

TEST(ErrorLog, ProgramFolderWithTrailingSeparatorAndNonAsciiName) {
    TestFolder folder;
    const QString inner = folder.File(QStringLiteral("été タイル"));
    ASSERT_TRUE(QDir().mkpath(inner));
    SetProgramFolder(inner + "/");
    LogError("frmConverter", "Convert", 53, "File not found");
    EXPECT_EQ(Lines(ReadBytes(inner + "/Errors.Log")).size(), 7);
}

// Whatever the locale's own time format, line 2 shows the time of day to the second, with
// the seconds set off like the minutes.
TEST(ErrorLog, DateTimeTextShowsSecondsInEveryLocale) {
    const QDateTime when(QDate(2009, 1, 14), QTime(13, 5, 9));
    for (const char* name : {"C", "en_US", "en_GB", "de_DE", "fi_FI", "da_DK", "ja_JP", "ko_KR", "ar_EG",
                             "fa_IR", "bg_BG", "zh_CN"}) {
        SCOPED_TRACE(name);
        const QLocale locale(QString::fromLatin1(name));
        const QString text = LogDateTimeText(when, locale);
        const QString date = locale.toString(when.date(), QLocale::ShortFormat) + ' ';
        ASSERT_TRUE(text.startsWith(date)) << text.toStdString();
        const QString time = text.mid(date.size());
        // Split the time into its numbers (in the locale's own digits) and what lies between.
        std::vector<int> numbers;
        QStringList between;
        QString gap;
        for (qsizetype k = 0; k < time.size();) {
            if (time[k].isDigit()) {
                int value = 0;
                while (k < time.size() && time[k].isDigit()) {
                    value = value * 10 + time[k].digitValue();
                    ++k;
                }
                numbers.push_back(value);
                between.append(gap);
                gap.clear();
            } else {
                gap += time[k++];
            }
        }
        ASSERT_EQ(numbers.size(), 3u) << time.toStdString();
        EXPECT_TRUE(numbers[0] == 13 || numbers[0] == 1) << numbers[0];
        EXPECT_EQ(numbers[1], 5);
        EXPECT_EQ(numbers[2], 9);
        EXPECT_EQ(between[1], between[2]) << time.toStdString();
    }
}

// A full disk takes an entry whole or not at all, so later entries never follow half of one.
TEST(ErrorLog, FullDiskAppendsWholeEntriesOnly) {
    TestFolder folder;
    SmallDisk disk(folder.File("disk"), "64k");
    if (!disk.Mounted()) {
        GTEST_SKIP() << "mounting a tmpfs is not allowed here";
    }
    SetProgramFolder(folder.File("disk"));
    // Room for 30 more bytes in the log's last page, none anywhere else.
    const QByteArray old(4096 - 30, 'o');
    WriteBytes(folder.File("disk/Errors.Log"), old);
    disk.Fill();
    LogError("frmConverter", "Convert", 61, "Disk full");
    EXPECT_EQ(ReadBytes(folder.File("disk/Errors.Log")), old);

    ASSERT_TRUE(QFile::remove(folder.File("disk/filler")));
    LogError("frmConverter", "Convert", 53, "File not found");
    const QByteArray after = ReadBytes(folder.File("disk/Errors.Log"));
    EXPECT_TRUE(after.startsWith(old + kSeparator + "\r\n"));
    EXPECT_TRUE(after.endsWith("Error #53\r\nDescription: File not found\r\n\r\n"));
    EXPECT_EQ(after.count(kSeparator), 1);
}

// An installed program cannot write its own folder: the entry goes to the user's state
// folder, which appears with the first entry and not before.
TEST(ErrorLog, InstalledProgramLogsToTheStateFolder) {
    TestFolder folder;
    const ScopedEnv state("XDG_STATE_HOME", folder.File("state"));
    const ReadOnlyFolder prog(folder.File("prog"), "");
    if (!prog.Available()) {
        GTEST_SKIP() << "no folder can be made unwritable here";
    }
    SetProgramFolder(folder.File("prog"));
    LogError("frmConverter", "Convert", 0, "not logged");
    EXPECT_FALSE(Exists(folder.File("state")));
    LogError("frmConverter", "Convert", 53, "File not found");
    LogError("frmConverter", "Convert", 481, "Invalid picture");
    const QList<QByteArray> lines = Lines(ReadBytes(folder.File("state/tilvex/Errors.Log")));
    ASSERT_EQ(lines.size(), 14);
    EXPECT_EQ(lines[4], "Error #53");
    EXPECT_EQ(lines[11], "Error #481");
}
