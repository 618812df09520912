// Each common mistake gives one line on stderr that names its file and its cause, usage
// mistakes a pointer to the help as well, and the exit status says which kind it was.
#include "tilvexprocess.h"

#include <QDir>
#include <QImage>

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/statvfs.h>

namespace {

struct MistakeCase {
    const char* name;
    QStringList arguments;
    int status;
    QString file;   // named in the line ("" for none)
    QString cause;  // in the line
    const char* help = nullptr;  // the command whose help a usage mistake points to
};

// stderr as lines, and the one line of the mistake checked.
void expectOneLine(const Result& result, const MistakeCase& c) {
    const QStringList lines = result.err.split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(result.status, c.status) << result.err.toStdString();
    ASSERT_EQ(lines.size(), c.help ? 2 : 1) << result.err.toStdString();
    EXPECT_TRUE(lines[0].startsWith("tilvex: " + c.file)) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains(c.cause)) << lines[0].toStdString();
    if (c.help) {
        EXPECT_EQ(lines[1], QStringLiteral("Try 'tilvex %1 --help'.").arg(QLatin1String(c.help)));
    }
    EXPECT_TRUE(result.out.isEmpty()) << result.out.toStdString();
}

TEST_F(Tilvex, EveryMistakeNamesItsFileAndCauseInOneLine) {
    const auto file = [&](const char* name) { return folder_.File(name); };
    QDir dir(folder_.Path());
    ASSERT_TRUE(dir.mkdir("folder") && dir.mkdir("empty") && dir.mkdir("pngtiles") && dir.mkdir("dir.tsx"));
    ASSERT_TRUE(dir.mkpath("taken/0.bmp"));
    WriteBytes(file("bad.png"), "not a picture");
    WriteBytes(file("blocked"), "a file, not a folder");
    QImage tile(32, 32, QImage::Format_RGBA8888);
    tile.fill(qRgba(10, 20, 30, 255));
    ASSERT_TRUE(tile.save(file("pngtiles/0.png")));
    ASSERT_TRUE(tile.save(file("sheet.png")));
    WriteBytes(file("pngtiles/info.ini"), "[MAIN]\r\nNumFiles=1\r\n");
    ASSERT_EQ(Run({"split", file("big.bmp"), file("tiles"), "-q"}).status, 0);
    // A row of 2,048 tiles is a band of its own; the first of the second row is missing.
    ASSERT_TRUE(dir.mkdir("gappy"));
    WriteBytes(file("gappy/info.ini"), "[MAIN]\r\nNumFiles=2049\r\n");
    for (int n = 0; n < 2048; ++n) {
        ASSERT_TRUE(QFile::copy(file("tiles/0.bmp"), file("gappy/%1.bmp").arg(n)));
    }

    const MistakeCase cases[] = {
        {"missing source", {"split", file("nosuch.png"), file("out")}, 2, file("nosuch.png"), "no such file"},
        {"folder as source", {"split", file("folder"), file("out")}, 2, file("folder"), "is a folder"},
        {"source no picture", {"split", file("bad.png"), file("out")}, 1, file("bad.png"), "error 481: Invalid picture"},
        {"destination under a file", {"split", file("big.bmp"), file("blocked/out")}, 1, file("blocked/out"),
         "error 76: Path not found"},
        {"destination two levels under a file", {"split", file("big.bmp"), file("blocked/deeper/out")}, 1, file("blocked/deeper"),
         "error 76: Path not found (not a directory)"},
        {"tile name taken by a folder", {"split", file("big.bmp"), file("taken")}, 1, file("taken/0.bmp"),
         "is a directory"},
        {"sheet folder under a file", {"compile", file("tiles"), file("blocked/nodest")}, 1, file("blocked/nodest"),
         "error 76: Path not found (not a directory)"},
        {"missing tile drawn after a band that could not be written", {"compile", file("gappy"), file("nodest"), "--width", "2048"},
         1, file("gappy/2048.bmp"), "(tile 2048.bmp)"},
        {"sheet name against its format", {"compile", file("pngtiles"), file("sheet.bmp"), "--format", "png"}, 2, "",
         "--format png conflicts with the sheet's name", "compile"},
        {"no info.ini", {"compile", file("empty"), folder_.Path()}, 2, file("empty"), "holds no info.ini"},
        {"tileset that is a folder",
         {"split", file("sheet.png"), file("pt"), "--format", "png", "--tileset", file("dir.tsx")}, 1, file("dir.tsx"),
         "error 75"},
        {"short option", {"split", file("big.bmp"), file("out"), "-t", "16"}, 2, "", "unknown option -t; did you mean --tile?",
         "split"},
        {"misspelt option", {"split", file("big.bmp"), file("out"), "--tiles", "16"}, 2, "",
         "unknown option --tiles; did you mean --tile?", "split"},
        {"extra operand", {"split", "a", "b", "c"}, 2, "", "extra operand 'c'", "split"},
        {"missing operand", {"compile", "a"}, 2, "", "DEST is missing", "compile"},
        {"tile size with a map", {"compile", "t", "out", "--tile", "16", "--map", "x.tmx"}, 2, "",
         "--tile conflicts with --map", "compile"},
        {"repeated tile size", {"split", file("big.bmp"), file("out"), "--tile", "16", "--tile", "32"}, 2, "",
         "--tile given twice (16 and 32)", "split"},
        {"repeated map", {"split", file("big.bmp"), file("out"), "--unique", "--map", "a.tmx", "--map", "b.tmx"}, 2, "",
         "--map given twice", "split"},
        {"bad thread count", {"split", file("big.bmp"), file("out"), "--jobs", "0"}, 2, "", "--jobs 0", "split"},
    };
    for (const MistakeCase& c : cases) {
        SCOPED_TRACE(c.name);
        expectOneLine(Run(c.arguments), c);
    }
    // The entries of the batch program name it, the command and the file.
    const QString log = QString::fromLocal8Bit(ReadBytes(folder_.File("Errors.Log")));
    EXPECT_TRUE(log.contains("File: tilvex\r\nProcedure: split\r\nError #481\r\nDescription: " + file("bad.png") +
                             ": Invalid picture\r\n"))
        << log.toStdString();
    EXPECT_FALSE(log.contains("frmConverter"));
}

TEST_F(Tilvex, OptionsOfEveryCommandMayStandBeforeIt) {
    const Result result = Run({"--quiet", "-j", "1", "split", folder_.File("big.bmp"), folder_.File("out")});
    EXPECT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_TRUE(result.out.isEmpty() && result.err.isEmpty()) << result.out.toStdString() << result.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(folder_.File("out/5.bmp")));
}

TEST_F(Tilvex, AReadOnlyFileSystemIsItsOwnCause) {
    ReadOnlyFolder readOnly(folder_.File("ro"), QByteArray());
    struct statvfs fs {};
    if (!readOnly.Available() || ::statvfs(folder_.File("ro").toLocal8Bit().constData(), &fs) != 0 ||
        (fs.f_flag & ST_RDONLY) == 0) {
        GTEST_SKIP() << "no read-only file system can be mounted here (needs root)";
    }
    expectOneLine(Run({"split", folder_.File("big.bmp"), folder_.File("ro/out")}),
                  {"read-only", {}, 1, folder_.File("ro/out"), "error 70: Permission denied (read-only file system)"});
}

TEST_F(Tilvex, ABadTilesetSaysWhatIsWrongInEveryCommand) {
    const auto file = [&](const QString& name) { return folder_.File(name); };
    QImage sheet(32, 16, QImage::Format_RGBA8888);
    sheet.fill(qRgba(200, 10, 10, 255));
    ASSERT_TRUE(sheet.save(file("sheet.png")));
    ASSERT_TRUE(QDir(folder_.Path()).mkdir("folder.tsx"));
    WriteBytes(file("wide.tsx"), "<tileset version=\"1.10\" name=\"w\" tilewidth=\"16\" tileheight=\"16\" margin=\"40\" tilecount=\"2\" "
                                 "columns=\"2\"><image source=\"sheet.png\" width=\"32\" height=\"16\"/></tileset>");
    const auto map = [&](const QString& name, const QString& tileset) {
        WriteBytes(file(name), QStringLiteral("<map version=\"1.10\" orientation=\"orthogonal\" width=\"2\" height=\"1\" tilewidth=\"16\" "
                                              "tileheight=\"16\"><tileset firstgid=\"1\" source=\"%1\"/><layer id=\"1\" name=\"l\" "
                                              "width=\"2\" height=\"1\"><data encoding=\"csv\">1,2</data></layer></map>")
                                   .arg(tileset).toUtf8());
    };
    map("folder.tmx", "folder.tsx");
    map("zero.tmx", "/dev/zero");
    map("wide.tmx", "wide.tsx");
    const struct {
        const char* map;
        QString file;
        const char* cause;
    } cases[] = {
        {"folder.tmx", file("folder.tmx"), "its tileset " },
        {"zero.tmx", file("zero.tmx"), "its tileset /dev/zero is a device"},
        {"wide.tmx", file("wide.tsx"), "its image is 32x16 pixels, too small for one 16x16 tile inside its margin of 40"},
    };
    for (const auto& c : cases) {
        const QStringList runs[] = {{"compile", "--map", file(c.map), file("o.png")},
                                    {"optimize", file(c.map), "--out", file("out")},
                                    {"compile", "--map", file(c.map), file("o.png"), "--layer", "l"}};
        for (const QStringList& arguments : runs) {
            SCOPED_TRACE(arguments.join(' ').toStdString());
            expectOneLine(Run(arguments), {c.map, {}, 1, c.file, c.cause});
            EXPECT_FALSE(QFileInfo::exists(file("out")));
            EXPECT_FALSE(QFileInfo::exists(file("o.png")));
        }
    }
    const Result info = Run({"info", file("folder.tmx")});
    EXPECT_TRUE(info.err.contains(file("folder.tsx") + " is a folder, not a file")) << info.err.toStdString();
}

TEST_F(Tilvex, ANameThatIsNotUtf8IsRefusedNotReplaced) {
    // The shell makes the names from bytes, as a file system may hold them; QProcess cannot.
    const QString sources[] = {"../big.bmp", "$(printf 'a\\377b.bmp')"};
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(sources[k].toStdString());
        const QString line = QStringLiteral("mkdir '%1' && cd '%1' && cp ../big.bmp \"$(printf 'a\\377b.bmp')\" && "
                                            "exec \"$0\" split \"%2\" \"$(printf 'd\\376\\377e')\"")
                                 .arg(folder_.File(QString::number(k)), sources[k]);
        const Result result = RunWrapped({"sh", "-c", line}, {});
        EXPECT_EQ(result.status, 2) << result.err.toStdString();
        EXPECT_TRUE(result.err.contains("not valid in the system's encoding")) << result.err.toStdString();
        // Only the source: no destination under another name (QDir lists no name it cannot decode).
        int entries = 0;
        if (DIR* dir = ::opendir(QFile::encodeName(folder_.File(QString::number(k))).constData())) {
            while (const dirent* entry = ::readdir(dir)) {
                entries += entry->d_name[0] != '.' ? 1 : 0;
            }
            ::closedir(dir);
        }
        EXPECT_EQ(entries, 1);
    }
}

}  // namespace
