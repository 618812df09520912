#include "imaging/bitmapsahead.h"

#include "imaging/directdraw.h"
#include "runtime/parallel.h"

#include <algorithm>

BitmapsAhead::~BitmapsAhead() {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& helper : helper_) {
        helper.join();
    }
}

void BitmapsAhead::Read(std::vector<QString> files) {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        if (unavailable_) {
            return;
        }
        for (QString& file : files) {
            // Queued twice, a file would be read twice and kept once unused.
            if (known_.insert(file).second) {
                queued_.push_back(std::move(file));
            }
        }
    }
    if (helper_.empty() && !StartHelper(helper_, [this] { work(); })) {
        const std::lock_guard<std::mutex> hold(lock_);
        unavailable_ = true;
        queued_.clear();
        known_.clear();
        return;
    }
    changed_.notify_all();
}

void BitmapsAhead::work() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        changed_.wait(hold, [this] { return stopping_ || !queued_.empty(); });
        if (stopping_) {
            return;
        }
        // From the back: the caller takes from the front, reading itself what is not ready,
        // so the two share the files and meet rather than wait on each other.
        reading_ = std::move(queued_.back());
        queued_.pop_back();
        hold.unlock();
        QImage image;
        try {
            image = ReadBitmapSurfaceImage(reading_);
        } catch (...) {
            // Memory that runs out here runs out again, and is reported, where the caller reads.
        }
        hold.lock();
        if (!image.isNull()) {
            ready_[reading_] = std::move(image);
        } else {
            known_.erase(reading_);
        }
        reading_.clear();
        changed_.notify_all();
    }
}

std::optional<QImage> BitmapsAhead::Take(const QString& file) {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return reading_ != file; });
    if (known_.erase(file) == 0) {
        return std::nullopt;
    }
    if (const auto found = ready_.find(file); found != ready_.end()) {
        QImage image = std::move(found->second);
        ready_.erase(found);
        return image;
    }
    if (const auto queued = std::find(queued_.begin(), queued_.end(), file); queued != queued_.end()) {
        // Not started: the caller reads it now rather than wait for those before it.
        queued_.erase(queued);
    }
    return std::nullopt;
}
