#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class bmpsize;
class FolderWriter;
class FormView;
class Picture;
class RuntimeError;

// The window's convert command and its conversion procedure Convert, run on a FormView.
class Converter {
public:
    explicit Converter(FormView& form);
    ~Converter();

    // The click handler of the convert button.
    void Command1_Click();

    // Runs Split or Compile mode as the option buttons say; every run-time failure ends the
    // run and goes to the error log.
    void Convert(const QString& source, const QString& destination, Picture& canvas);

    // The image header reader that Split mode creates on first use and keeps.
    bmpsize* ImageInfo() const { return ImageInfo_.get(); }

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
    // Cuts the tiles row by row, numbered from number on; the number after the last.
    std::int32_t cutTiles(const Picture& image, Picture& canvas, std::int32_t tilesAcross, std::int32_t tilesDown,
                          std::int32_t number, FolderWriter& tiles);

    FormView& form_;
    std::unique_ptr<bmpsize> ImageInfo_;
    std::function<void(const RuntimeError&)> observer_;
    std::function<void(const RuntimeError&)> logger_;
    // Set while a click is handled: a second click let in by the message processing before
    // the button is disabled must not start a second run.
    bool running_ = false;
};
