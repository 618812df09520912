#pragma once

// The threads of the product: parallel loops, reading ahead and helpers. Every thread starts
// through StartHelper, so a process limit on threads slows a run rather than failing it.

#include <cstddef>
#include <exception>
#include <functional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

// Threads a job uses: one per core once UseEveryCore was called (the batch program does),
// else one, as the window runs.
int WorkerCount();
void UseEveryCore();
// Exactly this many threads (1 is the window's one thread).
void UseThreads(int threads);

// Items of every ParallelFor so far, and how many of them are done: what a progress bar shows.
struct WorkDone {
    std::size_t done = 0;
    std::size_t total = 0;
};
WorkDone ParallelWorkDone();

// Counts count items of the ParallelFor calls to come in the total now, so a job done in
// several loops (a band at a time) shows its whole size from the start.
void ExpectParallelWork(std::size_t count);

// Runs work(i) for every i below count on WorkerCount() threads. When items fail, the
// failure of the lowest item is rethrown once all threads stopped; items above a failed
// one are not started.
void ParallelFor(std::size_t count, const std::function<void(std::size_t)>& work);

// True on a thread running an item of a ParallelFor: every core is busy already, so work
// within runs on that thread.
bool InsideParallelFor();

// Starts a thread running work and adds it to threads; false, with nothing started, where the
// system gives no more threads (a process limit): the caller then goes on with those it has.
template <typename Work>
bool StartHelper(std::vector<std::thread>& threads, Work&& work) {
    try {
        threads.emplace_back(std::forward<Work>(work));
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

// Runs use(i, item) for every i below count, item = read(i), with read(i + 1) on a helper
// thread while use(i) runs: a band of a sheet is decoded while the last is cut or encoded.
// Without a thread to spare, the next item is read after. A failure of use comes before a
// failure of the read ahead of it, as the items come in order.
template <typename Read, typename Use>
void ReadAhead(int count, Read&& read, Use&& use) {
    if (count <= 0) {
        return;
    }
    auto next = read(0);
    for (int i = 0; i < count; ++i) {
        auto item = std::move(next);
        std::exception_ptr readFailure;
        std::vector<std::thread> reader;
        if (i + 1 < count) {
            StartHelper(reader, [&] {
                try {
                    next = read(i + 1);
                } catch (...) {
                    readFailure = std::current_exception();
                }
            });
        }
        std::exception_ptr useFailure;
        try {
            use(i, item);
        } catch (...) {
            useFailure = std::current_exception();
        }
        if (!reader.empty()) {
            reader.front().join();
        } else if (i + 1 < count && !useFailure) {
            next = read(i + 1);
        }
        if (useFailure) {
            std::rethrow_exception(useFailure);
        }
        if (readFailure) {
            std::rethrow_exception(readFailure);
        }
    }
}
