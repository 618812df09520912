#include "batchform.h"

#include <cstdio>

namespace {
// A run shorter than this shows no bar at all.
constexpr auto QuietSpan = std::chrono::milliseconds(500);
constexpr auto RedrawSpan = std::chrono::milliseconds(100);
}  // namespace

BatchForm::BatchForm(bool showProgress)
    : showProgress_(showProgress), start_(std::chrono::steady_clock::now()), lastDraw_(start_) {}

void BatchForm::DoEvents() {
    HeadlessForm::DoEvents();
    // Split mode yields once per tile cut; the loaded sheet tells how many there are.
    ++tilesCut_;
    const Picture& big = Image(Pic::pic2);
    Progress(tilesCut_, static_cast<long long>(big.Width() / 32) * (big.Height() / 32));
}

void BatchForm::Progress(long long done, long long total) {
    if (!showProgress_ || total <= 0) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - start_ < QuietSpan || (now - lastDraw_ < RedrawSpan && done < total)) {
        return;
    }
    lastDraw_ = now;
    constexpr int barWidth = 40;
    const int filled = static_cast<int>(barWidth * done / total);
    char bar[barWidth + 1];
    for (int i = 0; i < barWidth; ++i) {
        bar[i] = i < filled ? '#' : '.';
    }
    bar[barWidth] = '\0';
    std::fprintf(stderr, "\r[%s] %lld/%lld", bar, done, total);
    std::fflush(stderr);
    drawn_ = true;
}

void BatchForm::EndProgress() {
    if (drawn_) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        drawn_ = false;
    }
}
