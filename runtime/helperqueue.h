#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Helper threads that run the tasks one owner queues while the owner goes on (files read
// ahead, files written behind). A task's failure is kept: no other task starts after it,
// those waiting are dropped, and every later Post and Wait raises it.
class HelperQueue {
public:
    // Which waiting task a free helper takes: the oldest, or the newest for work the owner
    // meets from the other end.
    enum class Order { Oldest, Newest };

    // Starts up to threads helpers: fewer, or none, where the system gives no more.
    explicit HelperQueue(int threads, Order order = Order::Oldest);
    ~HelperQueue();
    HelperQueue(const HelperQueue&) = delete;
    HelperQueue& operator=(const HelperQueue&) = delete;

    // Helpers running; 0 once stopped, or when none could start: the owner then goes on alone.
    int Threads() const { return static_cast<int>(threads_.size()); }
    // Queues task, first waiting while most tasks wait for a helper (0: no bound, so memory
    // held by queued work stays bounded only when asked). Without helpers it runs at once in
    // the caller's thread.
    void Post(std::function<void()> task, std::size_t most = 0);
    // Waits until no task waits or runs.
    void Wait();
    // Drops the tasks waiting, waits for those running and ends the helpers.
    void Stop();

private:
    void work();
    void raiseFailure();

    Order order_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> waiting_;
    std::size_t running_ = 0;
    std::exception_ptr failure_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};
