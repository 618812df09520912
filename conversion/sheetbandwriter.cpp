#include "conversion/sheetbandwriter.h"

#include "imaging/bitmapfile.h"
#include "imaging/picture.h"
#include "runtime/atomicfile.h"
#include "runtime/destination.h"
#include "runtime/parallel.h"
#include "runtime/paths.h"

SheetBandWriter::SheetBandWriter(const QString& file, const QString& folder, int width, int height)
    : file_(file), folder_(folder), width_(width), height_(height) {}

SheetBandWriter::~SheetBandWriter() { wait(); }

void SheetBandWriter::wait() {
    for (std::thread& helper : helper_) {
        helper.join();
    }
    helper_.clear();
}

void SheetBandWriter::open() {
    if (!out_) {
        RemoveLeftovers(ToFsPath(folder_));
        out_ = std::make_unique<BitmapWriter>(LinkTarget(file_), width_, height_);
    }
}

void SheetBandWriter::write(const Picture& band, int top) {
    try {
        AboutFile(file_, [&] {
            open();
            out_->WriteRows(band.Image(), top);
        });
    } catch (const RuntimeError& failure) {
        failure_ = failure;
        out_.reset();
    }
}

void SheetBandWriter::Write(const Picture& band, int top) {
    wait();
    if (failure_ || band.Height() == 0) {
        return;
    }
    // Without a thread to spare, the band is written before the next is drawn.
    if (!StartHelper(helper_, [this, &band, top] { write(band, top); })) {
        write(band, top);
    }
}

void SheetBandWriter::Commit() {
    wait();
    if (failure_) {
        throw *failure_;
    }
    AboutFile(file_, [&] {
        open();
        out_->Commit();
    });
}
