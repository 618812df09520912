// The progress bar of a long run: on a terminal (a pseudo-terminal made by script), and never
// where stderr is a pipe or the run is --quiet.
#include "tilvexprocess.h"

#include <QImage>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

struct ProgressCase {
    const char* name;
    bool terminal;
    bool quiet;
    bool bar;
};

TEST_F(Tilvex, ALongRunShowsItsProgressOnlyOnATerminal) {
    const QString script = QStandardPaths::findExecutable("script");
    if (script.isEmpty()) {
        GTEST_SKIP() << "script (util-linux) is not installed: no pseudo-terminal to run under";
    }
    // Tens of thousands of tiles on one thread: well over half a second on any machine (16,384
    // took 0.3 s on a quiet one).
    QImage sheet(512, 512, QImage::Format_RGBA8888);
    for (int y = 0; y < sheet.height(); ++y) {
        for (int x = 0; x < sheet.width(); ++x) {
            sheet.setPixel(x, y, qRgba(x % 256, y % 256, (x ^ y) % 256, 255));
        }
    }
    ASSERT_TRUE(sheet.save(folder_.File("sheet.png")));
    const ProgressCase cases[] = {
        {"terminal", true, false, true},
        {"terminal, quiet", true, true, false},
        {"pipe", false, false, false},
    };
    int run = 0;
    for (const ProgressCase& c : cases) {
        SCOPED_TRACE(c.name);
        QStringList arguments = {"split", folder_.File("sheet.png"), folder_.File(QStringLiteral("out%1").arg(run++)),
                                 "--tile", "2", "--format", "png", "--jobs", "1"};
        if (c.quiet) {
            arguments += "--quiet";
        }
        Result result;
        if (c.terminal) {
            // script runs the line in a shell on a new pseudo-terminal; what the run printed
            // there comes out on script's stdout.
            QString line = "'" + program_ + "'";
            for (const QString& argument : arguments) {
                line += " '" + argument + "'";
            }
            QProcess process;
            process.start(script, {"-qec", line, "/dev/null"});
            ASSERT_TRUE(process.waitForFinished(120000));
            result.status = process.exitCode();
            result.err = QString::fromLocal8Bit(process.readAllStandardOutput());
        } else {
            result = Run(arguments);
        }
        ASSERT_EQ(result.status, 0) << result.err.toStdString();
        EXPECT_EQ(result.err.contains("\r[#"), c.bar) << result.err.toStdString().substr(0, 200);
        if (c.bar) {
            // Done/total of the tiles, and the line cleared before the summary.
            EXPECT_TRUE(result.err.contains("/65536")) << result.err.toStdString().substr(0, 200);
            EXPECT_TRUE(result.err.contains("\r\033[K65536 tiles written")) << result.err.toStdString().substr(0, 300);
        }
    }
}

}  // namespace
