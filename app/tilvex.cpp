#include "batchcli.h"
#include "batchio.h"

#include "runtime/parallel.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
    HoldStandardStreams();
    // No window toolkit: the batch program must run where no display exists.
    QCoreApplication app(argc, argv);
    UseEveryCore();
    return RunBatch(QCoreApplication::arguments());
}
