#include "runtime/helperqueue.h"

#include "runtime/parallel.h"

#include <utility>

HelperQueue::HelperQueue(int threads, Order order) : order_(order) {
    for (int i = 0; i < threads && StartHelper(threads_, [this] { work(); }); ++i) {
    }
}

HelperQueue::~HelperQueue() { Stop(); }

void HelperQueue::raiseFailure() {
    if (failure_) {
        std::rethrow_exception(failure_);
    }
}

void HelperQueue::Post(std::function<void()> task, std::size_t most) {
    if (threads_.empty()) {
        raiseFailure();
        try {
            task();
        } catch (...) {
            failure_ = std::current_exception();
            throw;
        }
        return;
    }
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return failure_ || most == 0 || waiting_.size() < most; });
    raiseFailure();
    waiting_.push_back(std::move(task));
    changed_.notify_all();
}

void HelperQueue::Wait() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return waiting_.empty() && running_ == 0; });
    raiseFailure();
}

void HelperQueue::Stop() {
    std::deque<std::function<void()>> dropped;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
        dropped.swap(waiting_);
    }
    changed_.notify_all();
    // Before the join: what a dropped task holds may be what a running one waits for.
    dropped.clear();
    for (std::thread& thread : threads_) {
        thread.join();
    }
    threads_.clear();
}

void HelperQueue::work() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        changed_.wait(hold, [this] { return stopping_ || !waiting_.empty(); });
        if (stopping_) {
            return;
        }
        std::function<void()> task;
        if (order_ == Order::Oldest) {
            task = std::move(waiting_.front());
            waiting_.pop_front();
        } else {
            task = std::move(waiting_.back());
            waiting_.pop_back();
        }
        ++running_;
        // Room for a Post that waits.
        changed_.notify_all();
        hold.unlock();
        std::exception_ptr failure;
        try {
            task();
        } catch (...) {
            failure = std::current_exception();
        }
        task = nullptr;
        std::deque<std::function<void()>> dropped;
        hold.lock();
        if (failure && !failure_) {
            failure_ = failure;
            dropped.swap(waiting_);
        }
        --running_;
        changed_.notify_all();
        if (!dropped.empty()) {
            // Their captures may take locks of the owner's: let go of them unlocked.
            hold.unlock();
            dropped.clear();
            hold.lock();
        }
    }
}
