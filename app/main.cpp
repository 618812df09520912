#include "window/frmconverter.h"

#include <QApplication>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    // Without a display the toolkit would abort with a long trace; say it plainly instead.
    const bool hasDisplay = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
    if (!hasDisplay) {
        std::fprintf(stderr, "tilvex-converter: no display found (DISPLAY is not set); start it on a desktop.\n");
        return 1;
    }
    QApplication app(argc, argv);
    frmConverter window;
    window.show();
    return app.exec();
}
