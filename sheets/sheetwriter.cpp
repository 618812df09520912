#include "sheets/sheetwriter.h"

#include "imaging/bitmapfile.h"
#include "imaging/pngbandwriter.h"
#include "runtime/runtimeerror.h"

SheetWriter::SheetWriter(const QString& path, QSize size, TileFormat format) : path_(path) {
    AboutFile(path, [&] {
        if (format == TileFormat::Bmp) {
            bitmap_ = std::make_unique<BitmapWriter>(path, size.width(), size.height());
        } else {
            png_ = std::make_unique<PngBandWriter>(path, size.width(), size.height());
        }
    });
}

SheetWriter::~SheetWriter() = default;

void SheetWriter::WriteRows(const QImage& band, int top) {
    AboutFile(path_, [&] { bitmap_ ? bitmap_->WriteRows(band, top) : png_->WriteRows(band); });
}

void SheetWriter::Commit() {
    AboutFile(path_, [&] { bitmap_ ? bitmap_->Commit() : png_->Commit(); });
}
