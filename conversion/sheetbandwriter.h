#pragma once

#include "runtime/runtimeerror.h"

#include <QString>

#include <memory>
#include <optional>
#include <thread>
#include <vector>

class BitmapWriter;
class Picture;

// Writes a sheet's bitmap a band of rows at a time, each band on a helper thread while the
// next one is drawn. A failure stops the writing, not the drawing: it is kept for Commit, so
// that a tile that fails to load later still fails first, as when the sheet is saved whole.
class SheetBandWriter {
public:
    // The sheet as a linked path resolves (a link stays a link), width by height pixels. The
    // file is started with the first band; killed runs' leftovers in folder go first.
    SheetBandWriter(const QString& file, const QString& folder, int width, int height);
    ~SheetBandWriter();
    SheetBandWriter(const SheetBandWriter&) = delete;
    SheetBandWriter& operator=(const SheetBandWriter&) = delete;

    // Writes the band's rows from top on; the band must stay untouched until the next call.
    void Write(const Picture& band, int top);
    // Waits for the last band, then raises the first failure or puts the file in place.
    void Commit();

private:
    // Starts the file, once.
    void open();
    void write(const Picture& band, int top);
    void wait();

    QString file_;
    QString folder_;
    int width_;
    int height_;
    std::unique_ptr<BitmapWriter> out_;
    std::optional<RuntimeError> failure_;
    std::vector<std::thread> helper_;
};
