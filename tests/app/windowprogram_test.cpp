// The window program's command line and the icon drawn for the desktop.
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPointF>
#include <QSet>

namespace {

TEST(WindowProgram, HelpVersionAndRefusedArguments) {
    struct Case {
        QStringList arguments;
        bool display;
        int status;
        const char* inOut;
        const char* inErr;
    };
    const Case cases[] = {
        {{"--help"}, false, 0, "Usage: ", ""},
        {{"-h"}, false, 0, "--version", ""},
        {{"--help-all"}, false, 0, "Usage: ", ""},
        {{"--version"}, false, 0, "tilvex-converter 0.4\n", ""},
        {{"--bogus"}, false, 2, "", "Unknown option 'bogus'.\nUsage: tilvex-converter [--help] [--version]\n"},
        {{"big.bmp"}, false, 2, "", "unexpected argument 'big.bmp'\nUsage: tilvex-converter"},
        {{"big.bmp"}, true, 2, "", "unexpected argument 'big.bmp'\nUsage: tilvex-converter"},
        {{"--help"}, true, 0, "Usage: ", ""},
        {{}, false, 1, "", "no display found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString() + (c.display ? " with a display" : " without a display"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        if (c.display) {
            env.insert("QT_QPA_PLATFORM", "offscreen");
        }
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(TILVEX_WINDOW_PROGRAM), c.arguments);
        ASSERT_TRUE(process.waitForFinished(60000));
        const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        EXPECT_EQ(process.exitCode(), c.status) << err.toStdString();
        EXPECT_TRUE(out.contains(QString::fromUtf8(c.inOut))) << out.toStdString();
        EXPECT_TRUE(err.contains(QString::fromUtf8(c.inErr))) << err.toStdString();
    }
}

// Every size is drawn square and sharp in the window icon's colours; 32 px is the window's icon.
TEST(DesktopIcon, EverySizeMatchesTheWindowIcon) {
    const QImage window(QStringLiteral(TILVEX_WINDOW_ICON));
    ASSERT_FALSE(window.isNull());
    QSet<QRgb> colours;
    for (int y = 0; y < window.height(); ++y) {
        for (int x = 0; x < window.width(); ++x) {
            colours.insert(window.pixel(x, y));
        }
    }
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        SCOPED_TRACE(size);
        const QImage icon(QStringLiteral(TILVEX_ICON_DIR "/%1.png").arg(size));
        ASSERT_EQ(icon.size(), QSize(size, size));
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                ASSERT_TRUE(colours.contains(icon.pixel(x, y))) << x << "," << y;
                if (size == 32) {
                    ASSERT_EQ(icon.pixel(x, y), window.pixel(x, y)) << x << "," << y;
                }
            }
        }
        // The sheet's cells and the cut tile have the window icon's colours at the same relative places.
        for (const QPointF at : {QPointF(0.25, 0.25), QPointF(0.75, 0.25), QPointF(0.25, 0.75), QPointF(0.75, 0.75)}) {
            EXPECT_EQ(icon.pixel(int(at.x() * size), int(at.y() * size)),
                      window.pixel(int(at.x() * 32), int(at.y() * 32)));
        }
    }
}

}  // namespace
