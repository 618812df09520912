#include "batchform.h"

BatchForm::BatchForm(bool showProgress) : bar_(showProgress) {
    // Unseen, the sheet box holds a band of the sheet at a time, so it starts with no rows.
    Image(Pic::picBack).SetSize(Image(Pic::picBack).Width(), 0);
}

void BatchForm::Progress(long long done, long long total) { bar_.Show(done, total); }
