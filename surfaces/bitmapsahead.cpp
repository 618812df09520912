#include "surfaces/bitmapsahead.h"

BitmapsAhead::~BitmapsAhead() {
    // Its tasks use the files and lock above: the helper ends first.
    helper_.reset();
}

void BitmapsAhead::Read(std::vector<QString> files) {
    if (!helper_) {
        // From the newest: the caller takes from the oldest, reading itself what is not ready,
        // so the two share the files and meet rather than wait on each other.
        helper_ = std::make_unique<HelperQueue>(1, HelperQueue::Order::Newest);
    }
    if (helper_->Threads() == 0) {
        return;
    }
    const std::lock_guard<std::mutex> hold(lock_);
    for (QString& file : files) {
        // Queued twice, a file would be read twice and kept once unused.
        if (files_.emplace(file, Ahead{}).second) {
            helper_->Post([this, file = std::move(file)] { readAhead(file); });
        }
    }
}

// A file taken before its turn stays in the queue with nothing to do; one queued again since
// was queued later, so its newer task comes first.
void BitmapsAhead::readAhead(const QString& file) {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        const auto found = files_.find(file);
        if (found == files_.end() || found->second.state != State::Queued) {
            return;
        }
        found->second.state = State::Reading;
    }
    QImage image;
    try {
        image = read_(file);
    } catch (...) {
        // Memory that runs out here runs out again, and is reported, where the caller reads.
    }
    {
        const std::lock_guard<std::mutex> hold(lock_);
        const auto found = files_.find(file);
        if (image.isNull()) {
            files_.erase(found);
        } else {
            found->second.image = std::move(image);
            found->second.state = State::Ready;
        }
    }
    changed_.notify_all();
}

std::optional<QImage> BitmapsAhead::Take(const QString& file) {
    std::unique_lock<std::mutex> hold(lock_);
    auto found = files_.find(file);
    changed_.wait(hold, [&] {
        found = files_.find(file);
        return found == files_.end() || found->second.state != State::Reading;
    });
    if (found == files_.end()) {
        return std::nullopt;
    }
    std::optional<QImage> image;
    if (found->second.state == State::Ready) {
        image = std::move(found->second.image);
    }
    // One not started the caller reads now rather than wait for those before it.
    files_.erase(found);
    return image;
}
