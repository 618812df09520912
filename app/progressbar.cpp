#include "progressbar.h"

#include "batchio.h"

#include "runtime/parallel.h"

#include <cstdio>

namespace {
// A run shorter than this shows no bar at all.
constexpr auto QuietSpan = std::chrono::milliseconds(500);
constexpr auto RedrawSpan = std::chrono::milliseconds(100);
}  // namespace

ProgressBar::ProgressBar(bool show) : show_(show), start_(std::chrono::steady_clock::now()), lastDraw_(start_) {}

ProgressBar::~ProgressBar() { End(); }

void ProgressBar::Show(long long done, long long total) {
    if (!show_ || total <= 0) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - start_ < QuietSpan || (now - lastDraw_ < RedrawSpan && done < total)) {
        return;
    }
    lastDraw_ = now;
    constexpr int barWidth = 40;
    const int filled = static_cast<int>(barWidth * std::min(done, total) / total);
    char bar[barWidth + 1];
    for (int i = 0; i < barWidth; ++i) {
        bar[i] = i < filled ? '#' : '.';
    }
    bar[barWidth] = '\0';
    std::fprintf(stderr, "\r[%s] %lld/%lld", bar, done, total);
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressBar::FollowParallelWork() {
    if (!show_ || !follower_.empty()) {
        return;
    }
    BeforeNextPrint([this] { End(); });
    // Only what the loops do from now on is this run's.
    const WorkDone before = ParallelWorkDone();
    // Without a thread to spare the run goes on without a bar.
    StartHelper(follower_, [this, before] {
        std::unique_lock<std::mutex> hold(lock_);
        while (!stop_.wait_for(hold, RedrawSpan, [this] { return stopping_; })) {
            const WorkDone now = ParallelWorkDone();
            Show(static_cast<long long>(now.done - before.done), static_cast<long long>(now.total - before.total));
        }
    });
}

void ProgressBar::End() {
    if (!follower_.empty()) {
        BeforeNextPrint(nullptr);
        {
            const std::lock_guard<std::mutex> hold(lock_);
            stopping_ = true;
        }
        stop_.notify_all();
        follower_.front().join();
        follower_.clear();
    }
    if (drawn_) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        drawn_ = false;
    }
}
