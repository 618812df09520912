#pragma once

#include "progressbar.h"

#include "conversion/headlessform.h"

// The converter window's state for the batch program: no widgets, and a progress bar on
// stderr while a long run goes on.
class BatchForm : public HeadlessForm {
public:
    BatchForm(bool showProgress);

    void DoEvents() override;
    void Progress(long long done, long long total) override;
    // Clears the progress line before anything else is printed.
    void EndProgress() { bar_.End(); }

    long long TilesCut() const { return tilesCut_; }

private:
    ProgressBar bar_;
    long long tilesCut_ = 0;
};
