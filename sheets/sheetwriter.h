#pragma once

#include "sheets/tileformat.h"

#include <QImage>
#include <QString>

#include <memory>

class BitmapWriter;
class PngBandWriter;

// A sheet file of the tile formats written a band of rows at a time, top to bottom, so
// memory does not grow with the sheet: rows of RGB32 for a bitmap, of RGBA8888 for a PNG.
// Put in place whole by Commit; a failure names the file.
class SheetWriter {
public:
    SheetWriter(const QString& path, QSize size, TileFormat format);
    ~SheetWriter();
    SheetWriter(const SheetWriter&) = delete;
    SheetWriter& operator=(const SheetWriter&) = delete;

    // The band of rows from top on, below the last band.
    void WriteRows(const QImage& band, int top);
    void Commit();

private:
    QString path_;
    std::unique_ptr<BitmapWriter> bitmap_;
    std::unique_ptr<PngBandWriter> png_;
};
