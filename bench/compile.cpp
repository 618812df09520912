// Times Compile mode on a folder of distinct 32x32 24-bit tiles against the floor: the same
// tile files read with plain open, read and close, and one sheet of the same size written
// once with plain write.
//
//   bench_compile [tiles=16384] [width=128] [work folder=/tmp]
//
// It also times the steps of a run one by one (sizing the table, loading the tiles, drawing
// them, saving the sheet), to show where the time goes.

#include "benchclock.h"
#include "conversion/converter.h"
#include "conversion/headlessform.h"
#include "imaging/picture.h"
#include "runtime/messagebox.h"
#include "runtime/paths.h"
#include "surfaces/modrecs.h"
#include "surfaces/surfacetable.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Put32(unsigned char* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

// The header of a bottom-up 24-bit bitmap of the given size.
std::vector<unsigned char> BitmapHeader(int width, int height) {
    const std::uint32_t rowBytes = (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
    std::vector<unsigned char> header(54, 0);
    header[0] = 'B';
    header[1] = 'M';
    Put32(&header[2], 54 + rowBytes * static_cast<std::uint32_t>(height));
    Put32(&header[10], 54);
    Put32(&header[14], 40);
    Put32(&header[18], static_cast<std::uint32_t>(width));
    Put32(&header[22], static_cast<std::uint32_t>(height));
    header[26] = 1;
    header[28] = 24;
    return header;
}

void WriteFile(const QString& path, const unsigned char* data, std::size_t size) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0 || ::write(fd, data, size) != static_cast<ssize_t>(size)) {
        std::perror(name.constData());
        std::exit(1);
    }
    ::close(fd);
}

// Tile n: every pixel differs by position, and tiles differ by number.
void WriteTiles(const QString& folder, int count) {
    std::vector<unsigned char> file = BitmapHeader(32, 32);
    file.resize(54 + 32 * 32 * 3);
    for (int n = 0; n < count; ++n) {
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                unsigned char* px = &file[54 + static_cast<std::size_t>((31 - y) * 32 + x) * 3];
                px[0] = static_cast<unsigned char>(n + x);
                px[1] = static_cast<unsigned char>((n >> 8) + y);
                px[2] = static_cast<unsigned char>(x * 8 + y);
            }
        }
        WriteFile(folder + "/" + QString::number(n) + ".bmp", file.data(), file.size());
    }
    const QByteArray info = "[MAIN]\r\nNumFiles=" + QByteArray::number(count) + "\r\n";
    WriteFile(folder + "/info.ini", reinterpret_cast<const unsigned char*>(info.constData()),
              static_cast<std::size_t>(info.size()));
}

// Reads every tile with open/read/close, places its pixel rows in a sheet buffer and writes
// the sheet once.
double Floor(const QString& folder, int count, int width, int sheetHeight, const QString& sheetPath) {
    const auto begin = std::chrono::steady_clock::now();
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * 32 * 3 + 3) & ~std::size_t{3};
    std::vector<unsigned char> sheet = BitmapHeader(width * 32, sheetHeight);
    sheet.resize(54 + rowBytes * static_cast<std::size_t>(sheetHeight));
    unsigned char tile[54 + 32 * 32 * 3];
    for (int n = 0; n < count; ++n) {
        const QByteArray name = QFile::encodeName(folder + "/" + QString::number(n) + ".bmp");
        const int fd = ::open(name.constData(), O_RDONLY);
        if (fd < 0 || ::read(fd, tile, sizeof tile) != static_cast<ssize_t>(sizeof tile)) {
            std::perror("floor read");
            std::exit(1);
        }
        ::close(fd);
        const int column = n % width;
        const int row = n / width;
        for (int y = 0; y < 32; ++y) {
            const int sheetRow = sheetHeight - 1 - (row * 32 + y);
            if (sheetRow >= 0) {
                std::copy_n(tile + 54 + (31 - y) * 96, 96,
                            &sheet[54 + rowBytes * static_cast<std::size_t>(sheetRow) + static_cast<std::size_t>(column) * 96]);
            }
        }
    }
    WriteFile(sheetPath, sheet.data(), sheet.size());
    return Seconds(begin);
}

// The steps of one run, by hand, each timed on its own.
void Phases(const QString& tiles, const QString& sheetPath, int count, int width) {
    modRecs::Reset();
    HeadlessForm form;
    form.SetText(FormView::Box::txtWidth, QString::number(width));
    const QString source = tiles + "/";
    modRecs::DX = std::make_unique<DirectX7>();
    modRecs::DD = modRecs::DX->DirectDrawCreate(QString());
    Picture& canvas = form.Image(FormView::Pic::picBack);

    auto begin = std::chrono::steady_clock::now();
    InitSurfaces(form, source);
    canvas.SetWidth(width * 32);
    canvas.SetHeight(static_cast<float>(static_cast<double>(count) / width * 34 + 128));
    const double init = Seconds(begin);

    begin = std::chrono::steady_clock::now();
    for (int n = 0; n < count; ++n) {
        ReadyTileSurface(form, n, source);
    }
    const double load = Seconds(begin);

    begin = std::chrono::steady_clock::now();
    for (int n = 0; n < count; ++n) {
        const int column = n % width;
        const int row = n / width;
        modRecs::TileSurf.At(n)->BltToDC(canvas, RECT{0, 0, 32, 32},
                                         RECT{32 * column, 32 * row, 32 * column + 32, 32 * row + 32});
    }
    const double draw = Seconds(begin);

    begin = std::chrono::steady_clock::now();
    canvas.SaveBitmap(sheetPath);
    const double save = Seconds(begin);
    std::printf("steps   size %.3f s, load %.3f s, draw %.3f s, save %.3f s\n", init, load, draw, save);
    modRecs::Reset();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 16384;
    const int width = argc > 2 ? std::atoi(argv[2]) : 128;
    const QString base = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QDir::tempPath();
    if (count <= 0 || width <= 0) {
        std::fprintf(stderr, "usage: bench_compile [tiles] [width] [work folder]\n");
        return 2;
    }
    QTemporaryDir work(base + "/tilvex-bench-XXXXXX");
    SetProgramFolder(work.path());
    SetMessageBoxHandler([](const QString& text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });

    const QString tiles = work.path() + "/tiles";
    QDir().mkpath(tiles);
    QDir().mkpath(work.path() + "/out");
    WriteTiles(tiles, count);
    const int sheetHeight = static_cast<int>(static_cast<float>(static_cast<double>(count) / width * 34 + 128) + 0.5f);
    std::printf("%d tiles of 32x32 24-bit, %d a row, sheet %dx%d, folder %s\n", count, width, width * 32, sheetHeight,
                qPrintable(work.path()));

    double best = 1e300;
    double floorBest = 1e300;
    long compilePeak = 0;
    for (int pass = 0; pass < 3; ++pass) {
        {
            modRecs::Reset();
            HeadlessForm form;
            Converter converter(form);
            form.SelectSplit(false);
            form.SetText(FormView::Box::ipath, tiles);
            form.SetText(FormView::Box::spath, work.path() + "/out");
            form.SetText(FormView::Box::txtStart, "0");
            form.SetText(FormView::Box::txtWidth, QString::number(width));
            QFile::remove(work.path() + "/out/Tiles.bmp");
            const auto begin = std::chrono::steady_clock::now();
            converter.Command1_Click();
            best = std::min(best, Seconds(begin));
            if (!QFile::exists(work.path() + "/out/Tiles.bmp") || QFile::exists(work.path() + "/Errors.Log")) {
                std::fprintf(stderr, "compile failed (see %s)\n", qPrintable(work.path()));
                return 1;
            }
            compilePeak = std::max(compilePeak, PeakMiB());
        }
        floorBest = std::min(floorBest, Floor(tiles, count, width, sheetHeight, work.path() + "/floor.bmp"));
    }
    Phases(tiles, work.path() + "/phases.bmp", count, width);

    std::printf("compile %.3f s  (%.1f us/tile)  peak RSS %ld MiB\n", best, best * 1e6 / count, compilePeak);
    std::printf("floor   %.3f s  (%.1f us/tile)\n", floorBest, floorBest * 1e6 / count);
    std::printf("ratio   %.2f (target <= 2)\n", best / floorBest);
    return 0;
}
