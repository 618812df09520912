#include "window/frmconverter.h"
#include "windowargs.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("tilvex-converter"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TILVEX_VERSION));
    // Without a display the toolkit would abort with a long trace; say it plainly instead,
    // after the arguments, so --help and --version work anywhere.
    const bool hasDisplay = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
    if (!hasDisplay) {
        const QCoreApplication app(argc, argv);
        if (const auto status = HandleWindowArguments(app)) {
            return *status;
        }
        std::fprintf(stderr, "tilvex-converter: no display found (DISPLAY is not set); start it on a desktop.\n");
        return 1;
    }
    QApplication app(argc, argv);
    if (const auto status = HandleWindowArguments(app)) {
        return *status;
    }
    // The desktop entry's name, so Wayland compositors find the window's icon and menu entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tilvex.Converter"));
    frmConverter window;
    window.show();
    return app.exec();
}
