#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// A progress bar on stderr for a run that takes longer than half a second; shows nothing
// when it is not to be shown (stderr no terminal, --quiet).
class ProgressBar {
public:
    explicit ProgressBar(bool show);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void Show(long long done, long long total);
    // Follows the items of the parallel loops from a thread of its own until End.
    void FollowParallelWork();
    // Clears the bar's line before anything else is printed.
    void End();

private:
    bool show_;
    bool drawn_ = false;
    bool stopping_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
    std::mutex lock_;
    std::condition_variable stop_;
    std::vector<std::thread> follower_;  // one, while it follows
};
