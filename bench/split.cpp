// Times Split mode on a big 24-bit bitmap against the floor: the same tile files written
// from memory with plain open, write and close.
//
//   bench_split [side=4096] [work folder=/tmp]
//   bench_split --sheet PATH [side=4096]    only writes the test sheet

#include "benchclock.h"
#include "conversion/converter.h"
#include "conversion/headlessform.h"
#include "runtime/messagebox.h"
#include "runtime/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// A side by side 24-bit bottom-up bitmap with a different colour in every pixel of a tile.
void WriteSheet(const QString& path, int side) {
    const int rowBytes = (side * 3 + 3) & ~3;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    QByteArray header(54, '\0');
    auto put32 = [&](int at, quint32 v) {
        for (int i = 0; i < 4; ++i) {
            header[at + i] = static_cast<char>(v >> (8 * i));
        }
    };
    header[0] = 'B';
    header[1] = 'M';
    put32(2, static_cast<quint32>(54 + static_cast<qint64>(rowBytes) * side));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<quint32>(side));
    put32(22, static_cast<quint32>(side));
    header[26] = 1;
    header[28] = 24;
    file.write(header);
    QByteArray row(rowBytes, '\0');
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            row[3 * x] = static_cast<char>(x);
            row[3 * x + 1] = static_cast<char>(y);
            row[3 * x + 2] = static_cast<char>(x / 32 + y / 32);
        }
        file.write(row);
    }
}

double Floor(const QString& folder, const std::vector<QByteArray>& tiles, int start) {
    QDir().mkpath(folder);
    const auto begin = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        const QByteArray name = QFile::encodeName(folder + "/" + QString::number(start + static_cast<int>(i)) + ".bmp");
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd < 0 || ::write(fd, tiles[i].constData(), static_cast<std::size_t>(tiles[i].size())) != tiles[i].size()) {
            std::perror("floor write");
            std::exit(1);
        }
        ::close(fd);
    }
    return Seconds(begin);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc > 2 && std::string(argv[1]) == "--sheet") {
        WriteSheet(QString::fromLocal8Bit(argv[2]), argc > 3 ? std::atoi(argv[3]) : 4096);
        return 0;
    }
    const int side = argc > 1 ? std::atoi(argv[1]) : 4096;
    const QString base = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QDir::tempPath();
    QTemporaryDir work(base + "/tilvex-bench-XXXXXX");
    SetProgramFolder(work.path());
    SetMessageBoxHandler([](const QString& text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });

    const QString sheet = work.path() + "/big.bmp";
    WriteSheet(sheet, side);
    const long tileCount = static_cast<long>(side / 32) * (side / 32);
    std::printf("sheet %dx%d 24-bit, %ld tiles, folder %s\n", side, side, tileCount, qPrintable(work.path()));

    auto split = [&](const QString& destination) {
        HeadlessForm form;
        Converter converter(form);
        form.SetText(FormView::Box::ipath, sheet);
        form.SetText(FormView::Box::spath, destination);
        const auto begin = std::chrono::steady_clock::now();
        converter.Command1_Click();
        const double seconds = Seconds(begin);
        if (!QFile::exists(destination + "/info.ini")) {
            std::fprintf(stderr, "split failed: see %s/Errors.Log\n", qPrintable(work.path()));
            std::exit(1);
        }
        return seconds;
    };
    // A first run whose tiles the floor writes again; then both in turn, best of three, so
    // neither profits from a file system the other has warmed.
    double best = split(work.path() + "/first");
    const long splitPeak = PeakMiB();
    double floorBest = 1e300;
    std::vector<QByteArray> tiles;
    if (tileCount <= 65536) {
        for (long i = 0; i < tileCount; ++i) {
            QFile tile(work.path() + "/first/" + QString::number(i) + ".bmp");
            tile.open(QIODevice::ReadOnly);
            tiles.push_back(tile.readAll());
        }
    }
    for (int pass = 0; pass < 3 && !tiles.empty(); ++pass) {
        floorBest = std::min(floorBest, Floor(work.path() + "/floor" + QString::number(pass), tiles, 0));
        best = std::min(best, split(work.path() + "/split" + QString::number(pass)));
    }
    std::printf("split  %.3f s  (%.1f us/tile)  peak RSS %ld MiB\n", best, best * 1e6 / tileCount, splitPeak);
    if (floorBest < 1e300) {
        std::printf("floor  %.3f s  (%.1f us/tile)\n", floorBest, floorBest * 1e6 / tileCount);
        std::printf("ratio  %.2f (target <= 2)\n", best / floorBest);
    }
    return 0;
}
