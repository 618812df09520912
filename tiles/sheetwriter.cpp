#include "tiles/sheetwriter.h"

#include "imaging/bitmapfile.h"
#include "imaging/pngbandwriter.h"
#include "runtime/runtimeerror.h"

namespace {
template <typename Step>
void naming(const QString& path, Step step) {
    try {
        step();
    } catch (const RuntimeError& e) {
        if (e.File().isEmpty()) {
            throw RuntimeError(e.Number(), path + ": " + e.Description(), path, e.Cause());
        }
        throw;
    }
}
}  // namespace

SheetWriter::SheetWriter(const QString& path, QSize size, TileFormat format) : path_(path) {
    naming(path, [&] {
        if (format == TileFormat::Bmp) {
            bitmap_ = std::make_unique<BitmapWriter>(path, size.width(), size.height());
        } else {
            png_ = std::make_unique<PngBandWriter>(path, size.width(), size.height());
        }
    });
}

SheetWriter::~SheetWriter() = default;

void SheetWriter::WriteRows(const QImage& band, int top) {
    naming(path_, [&] { bitmap_ ? bitmap_->WriteRows(band, top) : png_->WriteRows(band); });
}

void SheetWriter::Commit() {
    naming(path_, [&] { bitmap_ ? bitmap_->Commit() : png_->Commit(); });
}
