#include "batchcli.h"
#include "batchio.h"

#include "runtime/parallel.h"

#include <QCoreApplication>
#include <QFile>

int main(int argc, char* argv[]) {
    HoldStandardStreams();
    // No window toolkit: the batch program must run where no display exists.
    QCoreApplication app(argc, argv);
    UseEveryCore();
    QStringList undecodable;
    for (int k = 1; k < argc; ++k) {
        if (QFile::encodeName(QFile::decodeName(argv[k])) != QByteArray(argv[k])) {
            undecodable += QFile::decodeName(argv[k]);
        }
    }
    return RunBatch(QCoreApplication::arguments(), undecodable);
}
