#include "batchcli.h"
#include "batchio.h"

#include "maps/objectpainter.h"
#include "runtime/parallel.h"
#include "runtime/roomyheap.h"

#include <QFile>
#include <QGuiApplication>

#include <memory>

namespace {
// Only a map's drawing needs Qt's fonts (its text objects); the other commands start faster
// without them. A word "compile" anywhere errs on the side of fonts.
bool mayDrawMaps(int argc, char* argv[]) {
    for (int k = 1; k < argc; ++k) {
        if (QByteArray(argv[k]) == "compile") {
            return true;
        }
    }
    return false;
}
}  // namespace

int main(int argc, char* argv[]) {
    UseRoomyHeap();
    HoldStandardStreams();
    // No window toolkit: the batch program must run where no display exists. Text objects
    // of maps need Qt's fonts, which only a GUI application has: on the offscreen platform
    // it needs no display. It is given none of the user's arguments, which it would take
    // as its own (-platform, --reverse, --session...).
    int qtArgc = 1;
    std::unique_ptr<QCoreApplication> app;
    if (mayDrawMaps(argc, argv)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // What the platform says as it starts (no XDG_RUNTIME_DIR...) is no concern of the user's.
        const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        app = std::make_unique<QGuiApplication>(qtArgc, argv);
        qInstallMessageHandler(previous);
    } else {
        app = std::make_unique<QCoreApplication>(qtArgc, argv);
    }
    QStringList arguments;
    for (int k = 0; k < argc; ++k) {
        arguments += QString::fromLocal8Bit(argv[k]);
    }
    UseEveryCore();
    QStringList undecodable;
    for (int k = 1; k < argc; ++k) {
        if (QFile::encodeName(QFile::decodeName(argv[k])) != QByteArray(argv[k])) {
            undecodable += QFile::decodeName(argv[k]);
        }
    }
    const int status = RunBatch(arguments, undecodable);
    if (qobject_cast<QGuiApplication*>(app.get()) != nullptr && !ObjectPainter::FontsUsed()) {
        // Fonts no text used would be loaded just to be let go: the font database's end
        // reads all of fontconfig's settings first, 15 ms of every map run without text.
        (void)app.release();
    }
    return status;
}
