#pragma once

#include "imaging/pngfilter.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

// The file formats tiles and sheets are written in.
enum class TileFormat { Bmp, Png };

// What fills a band: rows drawn, read or cut; or tiles loaded from their files on every core,
// whose bands are bigger (see BandRows).
enum class BandFill { Rows, TilesOnEveryCore };

// Rows of a band where a big picture is drawn, read or written a band at a time: a whole
// number of units of unitRows rows (a row of tiles), one at least, of about the same bytes
// whatever the picture, rowBytes a row.
int BandRows(std::int64_t rowBytes, int unitRows, BandFill fill = BandFill::Rows);

struct SinkOptions {
    // Each band is written on a helper thread while the caller makes the next. The file is
    // then started with the first band, and a failure stops the writing but is kept for
    // Commit: a failure the caller meets later (a tile that does not load) is still the one
    // reported, as when the picture is saved whole.
    bool background = false;
    // A folder whose killed runs' leftovers go when the file is started.
    QString leftoversIn;
    // The PNG filters; without them, those that compress the first band best.
    std::optional<PngFilters> filters;
};

// A picture file written a band of rows at a time, top to bottom, so that a big picture is
// never held whole: a 24-bit bottom-up bitmap as SaveBitmapFile writes it (bands of RGB32 or
// BGR888), or a PNG as EncodePng writes a big picture (bands of RGBA8888, or all of them
// premultiplied ARGB32, made straight as they are compressed). Out of sight until
// Commit puts it in place whole; nothing is left when it is dropped before. Failures name
// the file.
class PictureSink {
public:
    // Raises the failure of a file that cannot be started, unless the bands are written in
    // the background.
    PictureSink(const QString& path, QSize size, TileFormat format, const SinkOptions& options = {});
    ~PictureSink();
    PictureSink(const PictureSink&) = delete;
    PictureSink& operator=(const PictureSink&) = delete;

    // The next rows of the picture (the band's width is the picture's). A band in the
    // background is held until the next call, a PNG's band until it is compressed: drawn
    // into meanwhile, a QImage is copied, and the pixels of a view must stay untouched until
    // Commit.
    void WriteRows(const QImage& band);
    // Waits for the last band, then raises the first failure or puts the file in place.
    void Commit();

private:
    struct File;
    void start();
    void write(const QImage& band, int top);
    void wait();

    QString path_;
    QSize size_;
    TileFormat format_;
    SinkOptions options_;
    std::unique_ptr<File> file_;
    int handed_ = 0;  // rows given to WriteRows so far
    std::exception_ptr failure_;
    std::vector<std::thread> helper_;
    QImage writing_;  // the band the helper writes, held until it is done
};
