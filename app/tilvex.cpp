#include "batchcli.h"
#include "batchio.h"

#include "runtime/parallel.h"

#include <QFile>
#include <QGuiApplication>

int main(int argc, char* argv[]) {
    HoldStandardStreams();
    // No window toolkit: the batch program must run where no display exists. Text objects
    // of maps need Qt's fonts, which only a GUI application has: on the offscreen platform
    // it needs no display. It is given none of the user's arguments, which it would take
    // as its own (-platform, --reverse, --session...).
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    // What the platform says as it starts (no XDG_RUNTIME_DIR...) is no concern of the user's.
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QGuiApplication app(qtArgc, argv);
    qInstallMessageHandler(previous);
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
    return RunBatch(arguments, undecodable);
}
