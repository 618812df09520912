#pragma once

#include "progressbar.h"

#include "conversion/headlessform.h"

// The converter window's state for the batch program: no widgets, and a progress bar on
// stderr while a long run goes on.
class BatchForm : public HeadlessForm {
public:
    BatchForm(bool showProgress);

    bool ShowsPictures() const override { return false; }
    void Progress(long long done, long long total) override;
    // Clears the progress line before anything else is printed.
    void EndProgress() { bar_.End(); }

private:
    ProgressBar bar_;
};
