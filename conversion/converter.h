#pragma once

#include <QSize>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class bmpsize;
class FolderWriter;
class SheetBands;
class FormView;
class Picture;
class RuntimeError;

// The window's convert command and its conversion procedure Convert, run on a FormView.
class Converter {
public:
    // The side of every tile the window cuts and draws, in pixels.
    static constexpr int TileSide = 32;

    explicit Converter(FormView& form);
    ~Converter();

    // The click handler of the convert button.
    void Command1_Click();

    // Runs Split or Compile mode as the option buttons say; every run-time failure ends the
    // run and goes to the error log.
    void Convert(const QString& source, const QString& destination, Picture& canvas);

    // The image header reader that Split mode creates on first use and keeps.
    bmpsize* ImageInfo() const { return ImageInfo_.get(); }

    // The size of the sheet of the last run: the picture split, or the sheet compiled.
    QSize SheetSize() const { return sheetSize_; }
    // Tiles the last split wrote, or cut before it failed.
    long long TilesCut() const { return tilesCut_; }
    // Tiles the last compile drew, each counted once (a row's extra cell repeats a tile).
    long long TilesDrawn() const { return tilesDrawn_; }

    // Told of every failure that ended a run, logged or not (the batch program reports them).
    void SetFailureObserver(std::function<void(const RuntimeError&)> observer) { observer_ = std::move(observer); }
    // Logs the failures instead of the window's own entry (the batch program's entries name it).
    void SetFailureLogger(std::function<void(const RuntimeError&)> logger) { logger_ = std::move(logger); }

private:
    void failed(const RuntimeError& failure);
    // Each half returns true when the window takes its normal height again afterwards, and
    // false when it left Convert early, without failing, before the height changed.
    bool SplitMode(QString source, QString destination, Picture& canvas);
    bool CompileMode(QString source, QString destination);
    // Writes a tile file's bytes under its name; it may take the bytes.
    using TileWrite = std::function<void(const std::string& name, std::vector<unsigned char>& bytes)>;
    // Cuts the tiles row by row, numbered from number on; the number after the last.
    std::int32_t cutTiles(const Picture& image, Picture& canvas, std::int32_t tilesAcross, std::int32_t tilesDown,
                          std::int32_t number, const TileWrite& write);
    // The same from a sheet read a band of tile rows at a time (the next band while the last
    // is cut), with write called on every core where anyThread.
    std::int32_t cutBands(SheetBands& sheet, std::int32_t number, bool anyThread, const TileWrite& write);

    FormView& form_;
    std::unique_ptr<bmpsize> ImageInfo_;
    std::function<void(const RuntimeError&)> observer_;
    std::function<void(const RuntimeError&)> logger_;
    QSize sheetSize_;
    long long tilesCut_ = 0;
    long long tilesDrawn_ = 0;
    // Set while a click is handled: a second click let in by the message processing before
    // the button is disabled must not start a second run.
    bool running_ = false;
};
