// PNG encode and decode of a side by side RGBA sheet of three kinds (flat pixel art, smooth
// gradients, noise): ours on one core and on every core, and libspng with zlib as it is,
// against memcpy of the same buffer in the same run (the memory's speed). MB of pixels a
// second, best of the rounds, and each file's size. The sheets are left in the folder as raw
// RGBA and as PNG, for bench/png.sh to time Pillow on the same pixels.
//
//   bench_png [side=4096] [rounds=3] [folder=/tmp]

#include "benchclock.h"
#include "imaging/pngreader.h"
#include "imaging/pngwriter.h"
#include "runtime/parallel.h"
#include "runtime/wholefile.h"

#include <QCoreApplication>
#include <QImage>

#include <spng.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {
QImage sheetOf(const std::string& kind, int side) {
    QImage sheet(side, side, QImage::Format_RGBA8888);
    std::mt19937 random(4);
    for (int y = 0; y < side; ++y) {
        uchar* row = sheet.scanLine(y);
        for (int x = 0; x < side; ++x) {
            uchar* p = row + 4 * x;
            if (kind == "noise") {
                const auto v = static_cast<std::uint32_t>(random());
                std::memcpy(p, &v, 4);
            } else if (kind == "gradient") {
                p[0] = static_cast<uchar>(x * 255 / side);
                p[1] = static_cast<uchar>(y * 255 / side);
                p[2] = static_cast<uchar>((x + y) * 127 / side);
                p[3] = static_cast<uchar>(128 + (x ^ y) % 128 / 2);
            } else {
                // Tiles of 16 of a few colours in blocks of 4; a quarter of them transparent.
                const int tile = (x / 16) * 31 + (y / 16) * 17;
                const int colour = (tile + x / 4 + y / 4 * 3) % 4;
                const bool clear = tile % 4 == 0 && (x + y) % 16 < 8;
                p[0] = static_cast<uchar>(clear ? 0 : (tile * 37 + colour * 60) % 256);
                p[1] = static_cast<uchar>(clear ? 0 : (tile * 11 + colour * 90) % 256);
                p[2] = static_cast<uchar>(clear ? 0 : (colour * 80) % 256);
                p[3] = static_cast<uchar>(clear ? 0 : 255);
            }
        }
    }
    return sheet;
}

// Best seconds of rounds runs.
double best(int rounds, const std::function<void()>& run) {
    double fastest = 1e9;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        fastest = std::min(fastest, Seconds(start));
    }
    return fastest;
}

QByteArray spngEncode(const QImage& sheet) {
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr {};
    ihdr.width = static_cast<std::uint32_t>(sheet.width());
    ihdr.height = static_cast<std::uint32_t>(sheet.height());
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    spng_set_ihdr(ctx, &ihdr);
    QByteArray out;
    if (spng_encode_image(ctx, sheet.constBits(), static_cast<std::size_t>(sheet.sizeInBytes()), SPNG_FMT_PNG,
                          SPNG_ENCODE_FINALIZE) == 0) {
        std::size_t size = 0;
        int error = 0;
        void* png = spng_get_png_buffer(ctx, &size, &error);
        out = QByteArray(static_cast<const char*>(png), static_cast<qsizetype>(size));
        std::free(png);
    }
    spng_ctx_free(ctx);
    return out;
}

void spngDecode(const QByteArray& png, QImage& into) {
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, png.constData(), static_cast<std::size_t>(png.size()));
    if (spng_decode_image(ctx, into.bits(), static_cast<std::size_t>(into.sizeInBytes()), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0) {
        std::fprintf(stderr, "libspng could not decode\n");
        std::exit(1);
    }
    spng_ctx_free(ctx);
}

// Our decoder as a split reads a big sheet: bands of 64 rows, each copied into whole where given.
void decodeInBands(const QByteArray& png, QImage& band, QImage* whole = nullptr) {
    PngDecoder decoder(reinterpret_cast<const unsigned char*>(png.constData()), static_cast<std::size_t>(png.size()), 1ull << 32);
    for (int y = 0; y < decoder.Size().height(); y += band.height()) {
        const int rows = std::min(band.height(), decoder.Size().height() - y);
        decoder.ReadRows(band, rows);
        if (whole != nullptr) {
            std::memcpy(whole->scanLine(y), band.constBits(), static_cast<std::size_t>(band.bytesPerLine()) * rows);
        }
    }
}
}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int side = argc > 1 ? std::atoi(argv[1]) : 4096;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const QString folder = QString::fromLocal8Bit(argc > 3 ? argv[3] : "/tmp");
    const double mb = static_cast<double>(side) * side * 4 / 1e6;
    UseEveryCore();
    const int cores = WorkerCount();
    std::printf("%-9s %-22s %7s %10s %12s\n", "sheet", "job", "cores", "MB/s", "file bytes");
    for (const std::string kind : {"flat", "gradient", "noise"}) {
        const QImage sheet = sheetOf(kind, side);
        const QString base = folder + "/png-bench-" + QString::fromStdString(kind);
        WriteWholeFile(base + ".rgba", reinterpret_cast<const char*>(sheet.constBits()), static_cast<std::size_t>(sheet.sizeInBytes()));
        QImage copy(sheet.size(), sheet.format());
        copy.fill(0);  // its pages touched before memcpy is timed
        QImage band(side, 64, QImage::Format_RGBA8888);
        // The seconds are taken first: the job writes the file whose size is shown.
        const auto line = [&](const char* job, int threads, const std::function<double()>& timed, const QByteArray& file) {
            const double seconds = timed();
            const auto bytes = file.size();
            std::printf("%-9s %-22s %7d %10.0f %12lld\n", kind.c_str(), job, threads, mb / seconds, static_cast<long long>(bytes));
        };
        const QByteArray none;
        line("memcpy", 1, [&] { return best(rounds, [&] { std::memcpy(copy.bits(), sheet.constBits(), static_cast<std::size_t>(sheet.sizeInBytes())); }); }, none);
        QByteArray ours;
        for (const int threads : {1, cores}) {
            UseThreads(threads);
            line("tilvex encode", threads, [&] { return best(rounds, [&] { ours = EncodePng(sheet, ChooseFilters(sheet, 0, side)); }); }, ours);
            const auto* bytes = reinterpret_cast<const unsigned char*>(ours.constData());
            line("tilvex decode", threads, [&] { return best(rounds, [&] { copy = DecodePng(bytes, static_cast<std::size_t>(ours.size()), 1ull << 32); }); },
                 ours);
            line("tilvex decode bands", threads, [&] { return best(rounds, [&] { decodeInBands(ours, band); }); }, ours);
            QImage banded(sheet.size(), sheet.format());
            decodeInBands(ours, band, &banded);
            if (copy != sheet || banded != sheet) {
                std::fprintf(stderr, "our decoder changed the %s sheet\n", kind.c_str());
                return 1;
            }
        }
        WriteWholeFile(base + ".png", ours.constData(), static_cast<std::size_t>(ours.size()));
        QByteArray theirs;
        line("libspng+zlib encode", 1, [&] { return best(rounds, [&] { theirs = spngEncode(sheet); }); }, theirs);
        line("libspng+zlib decode", 1, [&] { return best(rounds, [&] { spngDecode(theirs, copy); }); }, theirs);
        line("libspng decode ours", 1, [&] { return best(rounds, [&] { spngDecode(ours, copy); }); }, ours);
    }
    return 0;
}
