// Failures of maps, worlds, templates and export folders: one line naming the file at fault
// and its cause, and an Errors.Log entry of seven lines whatever the file's name holds.
#include "tilvexprocess.h"

#include <QImage>

#include <sys/stat.h>

namespace {

class TrueMessages : public Tilvex {
protected:
    // A 2 by 2 map over one 16 px tile; extra goes into the map element (objects, layers).
    QString map(const QString& name, const QString& extra = {}) {
        QImage tile(16, 16, QImage::Format_RGBA8888);
        tile.fill(qRgba(200, 40, 40, 255));
        EXPECT_TRUE(tile.save(folder_.File("tile.png")));
        const QString path = folder_.File(name);
        WriteBytes(path, QStringLiteral(
                             "<?xml version=\"1.0\"?>\n<map version=\"1.10\" orientation=\"orthogonal\" width=\"2\" "
                             "height=\"2\" tilewidth=\"16\" tileheight=\"16\" infinite=\"0\">\n"
                             " <tileset firstgid=\"1\" name=\"t\" tilewidth=\"16\" tileheight=\"16\" tilecount=\"1\" "
                             "columns=\"1\"><image source=\"tile.png\" width=\"16\" height=\"16\"/></tileset>\n"
                             " <layer id=\"1\" name=\"g\" width=\"2\" height=\"2\"><data encoding=\"csv\">1,1,1,1</data></layer>\n%1"
                             "</map>\n")
                             .arg(extra)
                             .toUtf8());
        return path;
    }
    QString world(const QString& name, const QString& entry) {
        const QString path = folder_.File(name);
        WriteBytes(path, QStringLiteral("{\"maps\": [{\"fileName\": \"%1\", \"x\": 0, \"y\": 0}], \"type\": \"world\"}").arg(entry).toUtf8());
        return path;
    }
};

TEST_F(TrueMessages, EachFailureNamesItsFileAndCause) {
    ASSERT_EQ(::mkfifo(folder_.File("fifo.tmx").toLocal8Bit().constData(), 0644), 0);
    ASSERT_TRUE(QDir().mkpath(folder_.File("folder.tmx")));
    const QString level = map("level.tmx");
    const QString templated = map("templated.tmx", "<objectgroup id=\"2\" name=\"o\"><object id=\"1\" template=\"zero.tx\"/></objectgroup>\n");
    ASSERT_TRUE(QFile::link("/dev/zero", folder_.File("zero.tx")));
    const ReadOnlyFolder locked(folder_.File("locked"), "");
    struct Case {
        const char* name;
        QStringList arguments;
        QString file;   // named at the start of the line
        QString cause;  // in the line
    };
    const Case cases[] = {
        {"world entry that is a device", {"compile", "--map", world("zero.world", "/dev/zero"), folder_.File("w.png")},
         "/dev/zero", "is a device, a FIFO or a socket, not a file"},
        {"world entry that is a FIFO", {"compile", "--map", world("fifo.world", "fifo.tmx"), folder_.File("w.png")},
         folder_.File("fifo.tmx"), "is a device, a FIFO or a socket, not a file"},
        {"world entry that is a folder", {"compile", "--map", world("folder.world", "folder.tmx"), folder_.File("w.png")},
         folder_.File("folder.tmx"), "is a folder, not a file"},
        {"world that lists itself", {"compile", "--map", world("self.world", "self.world"), folder_.File("w.png")},
         folder_.File("self.world"), "a world, not a map"},
        {"template linked to a device", {"compile", "--map", templated, folder_.File("t.png")}, templated,
         "its template " + folder_.File("zero.tx") + " is a device, a FIFO or a socket, not a file"},
        {"export into a folder it cannot write", {"export", level, "--to", "phaser", "--out", folder_.File("locked")},
         folder_.File("locked"), "error 70: Permission denied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.arguments.contains("--out") && !locked.Available()) {
            continue;
        }
        const Result result = Run(c.arguments);
        const QStringList lines = result.err.split('\n', Qt::SkipEmptyParts);
        EXPECT_EQ(result.status, 1) << result.err.toStdString();
        ASSERT_EQ(lines.size(), 1) << result.err.toStdString();
        EXPECT_TRUE(lines[0].startsWith("tilvex: " + c.file + ":")) << lines[0].toStdString();
        EXPECT_TRUE(lines[0].contains(c.cause)) << lines[0].toStdString();
    }
}

TEST_F(TrueMessages, ExportMakesEveryMissingFolderAboveOut) {
    const QString out = folder_.File("a/b/c");
    const Result result = Run({"export", map("level.tmx"), "--to", "phaser", "--out", out, "-q"});
    EXPECT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_TRUE(QFileInfo(out + "/level.json").isFile());
}

// A line break in a map's name stays inside its entry's line.
TEST_F(TrueMessages, LineBreakInAFileNameKeepsTheLogEntryWhole) {
    const QString bad = folder_.File("two\nlines.tmx");
    WriteBytes(bad, "<map");
    EXPECT_EQ(Run({"compile", "--map", bad, folder_.File("x.png")}).status, 1);
    const QList<QByteArray> lines = ReadBytes(folder_.File("Errors.Log")).split('\n');
    ASSERT_EQ(lines.size(), 8);  // seven lines and the end of the last
    EXPECT_TRUE(lines[5].startsWith("Description: " + folder_.File("two\\nlines.tmx").toUtf8() + ":")) << lines[5].toStdString();
}

}  // namespace
