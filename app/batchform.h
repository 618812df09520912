#pragma once

#include "conversion/headlessform.h"

#include <chrono>

// The converter window's state for the batch program: no widgets, and a progress bar on
// stderr while a long run goes on.
class BatchForm : public HeadlessForm {
public:
    BatchForm(bool showProgress);

    void DoEvents() override;
    void Progress(long long done, long long total) override;
    // Clears the progress line before anything else is printed.
    void EndProgress();

    long long TilesCut() const { return tilesCut_; }

private:
    bool showProgress_;
    bool drawn_ = false;
    long long tilesCut_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};
