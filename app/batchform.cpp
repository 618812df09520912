#include "batchform.h"

BatchForm::BatchForm(bool showProgress) : bar_(showProgress) {}

void BatchForm::DoEvents() {
    HeadlessForm::DoEvents();
    // Split mode yields once per tile cut; the loaded sheet tells how many there are.
    ++tilesCut_;
    const Picture& big = Image(Pic::pic2);
    Progress(tilesCut_, static_cast<long long>(big.Width() / 32) * (big.Height() / 32));
}

void BatchForm::Progress(long long done, long long total) { bar_.Show(done, total); }
