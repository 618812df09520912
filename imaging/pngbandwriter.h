#pragma once

#include "imaging/pngfilter.h"

#include <QImage>
#include <QString>

#include <memory>

class AtomicFile;
class PngImageData;

// A PNG file written a band of rows at a time, top to bottom, so a big picture is never held
// whole; it is put in place whole by Commit, and is gone when the writer is dropped before.
// Rows are RGBA8888 (straight alpha); the filters are chosen from the first band.
class PngBandWriter {
public:
    // Raises the failure of a file that cannot be started, naming it.
    PngBandWriter(const QString& path, int width, int height);
    ~PngBandWriter();
    PngBandWriter(const PngBandWriter&) = delete;
    PngBandWriter& operator=(const PngBandWriter&) = delete;

    // The next rows of the picture (the band's width is the picture's).
    void WriteRows(const QImage& band);
    void Commit();

private:
    void write(const char* data, std::size_t size);

    QString path_;
    int width_;
    int height_;
    int written_ = 0;
    std::unique_ptr<AtomicFile> file_;
    std::unique_ptr<PngImageData> data_;
};
