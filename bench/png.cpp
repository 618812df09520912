// PNG encode and decode of a side by side RGBA sheet of three kinds (flat pixel art, smooth
// gradients, noise): ours on one core and on every core, and libspng with zlib as it is,
// against memcpy of the same buffer in the same run (the memory's speed). MB of pixels a
// second, best of the rounds, and each file's size. The sheets are left in the folder as raw
// RGBA and as PNG, for bench/png.sh to time Pillow on the same pixels.
//
//   bench_png [side=4096] [rounds=3] [folder=/tmp]
//   bench_png --decode [rounds=3] FILE.png...   decode of PNGs other tools wrote, ours and libspng's

#include "benchclock.h"
#include "imaging/pngreader.h"
#include "imaging/pngwriter.h"
#include "runtime/parallel.h"
#include "runtime/wholefile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <isa-l/igzip_lib.h>
#include <spng.h>

#include <algorithm>
#include <atomic>
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

// The IDAT chunks of a PNG, in order.
std::vector<std::pair<const unsigned char*, std::size_t>> idatChunks(const QByteArray& png) {
    std::vector<std::pair<const unsigned char*, std::size_t>> chunks;
    const auto* bytes = reinterpret_cast<const unsigned char*>(png.constData());
    for (std::size_t at = 8; at + 12 <= static_cast<std::size_t>(png.size());) {
        const std::size_t length = (std::size_t{bytes[at]} << 24) | (std::size_t{bytes[at + 1]} << 16) | (std::size_t{bytes[at + 2]} << 8) | bytes[at + 3];
        if (std::memcmp(bytes + at + 4, "IDAT", 4) == 0) {
            chunks.emplace_back(bytes + at + 8, length);
        }
        at += 12 + length;
    }
    return chunks;
}

// Inflate alone of a PNG whose IDAT chunks each end at a full flush, as this tool's writer
// leaves them: every chunk inflated on its own, on the threads. What reading such a file on
// every core could gain at most, before unfiltering; -1 where a chunk does not stand alone.
double partsInflated(const QByteArray& png, int rounds) {
    const auto chunks = idatChunks(png);
    for (std::size_t k = 0; k + 1 < chunks.size(); ++k) {
        const auto& [data, size] = chunks[k];
        if (size < 4 || std::memcmp(data + size - 4, "\x00\x00\xff\xff", 4) != 0) {
            return -1;
        }
    }
    std::atomic<bool> sound {true};
    const double seconds = best(rounds, [&] {
        ParallelFor(chunks.size(), [&](std::size_t k) {
            thread_local std::vector<unsigned char> out(std::size_t{4} << 20);
            inflate_state state;
            isal_inflate_init(&state);
            state.next_in = const_cast<unsigned char*>(chunks[k].first + (k == 0 ? 2 : 0));
            state.avail_in = static_cast<std::uint32_t>(chunks[k].second - (k == 0 ? 2 : 0));
            do {
                state.next_out = out.data();
                state.avail_out = static_cast<std::uint32_t>(out.size());
                if (isal_inflate(&state) < 0) {
                    sound = false;
                    return;
                }
            } while (state.avail_out == 0);
        });
    });
    return sound ? seconds : -1;
}

// Decode of files other tools wrote (their own filter choice and deflate), ours in bands on one
// core and on every core against libspng's, each checked against libspng's pixels.
int decodeFiles(int rounds, const QStringList& files) {
    std::printf("%-24s %-22s %7s %10s\n", "file", "job", "cores", "MB/s");
    for (const QString& name : files) {
        QFile file(name);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "%s: cannot be read\n", qPrintable(name));
            return 1;
        }
        const QByteArray png = file.readAll();
        PngDecoder probe(reinterpret_cast<const unsigned char*>(png.constData()), static_cast<std::size_t>(png.size()), 1ull << 32);
        const QSize size = probe.Size();
        QImage theirs(size, QImage::Format_RGBA8888), ours(size, QImage::Format_RGBA8888), band(size.width(), 64, QImage::Format_RGBA8888);
        const double mb = static_cast<double>(size.width()) * size.height() * 4 / 1e6;
        const auto line = [&](const char* job, int threads, double seconds) {
            std::printf("%-24s %-22s %7d %10.0f\n", qPrintable(QFileInfo(name).fileName()), job, threads, mb / seconds);
        };
        line("libspng decode", 1, best(rounds, [&] { spngDecode(png, theirs); }));
        for (const int threads : {1, WorkerCount()}) {
            UseThreads(threads);
            line("tilvex decode bands", threads, best(rounds, [&] { decodeInBands(png, band, &ours); }));
        }
        for (const int threads : {1, WorkerCount()}) {
            UseThreads(threads);
            const double seconds = partsInflated(png, rounds);
            if (seconds > 0) {
                line("inflate alone, parts", threads, seconds);
            }
        }
        UseEveryCore();
        if (ours != theirs) {
            std::fprintf(stderr, "%s: our pixels differ from libspng's\n", qPrintable(name));
            return 1;
        }
    }
    return 0;
}
}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    UseEveryCore();
    if (argc > 1 && std::strcmp(argv[1], "--decode") == 0) {
        const QStringList rest = app.arguments().mid(2);
        const bool counted = !rest.isEmpty() && rest.first().toInt() > 0;
        return decodeFiles(counted ? rest.first().toInt() : 3, counted ? rest.mid(1) : rest);
    }
    const int side = argc > 1 ? std::atoi(argv[1]) : 4096;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const QString folder = QString::fromLocal8Bit(argc > 3 ? argv[3] : "/tmp");
    const double mb = static_cast<double>(side) * side * 4 / 1e6;
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
