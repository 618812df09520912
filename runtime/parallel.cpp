#include "runtime/parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace {
std::atomic<int> threadsUsed{1};
std::atomic<std::size_t> itemsDone{0};
std::atomic<std::size_t> itemsTotal{0};
std::atomic<std::size_t> itemsExpected{0};
// Set on the threads of a ParallelFor: a loop inside one item runs on its thread, as every
// core is busy already, and its items are no items of the job.
thread_local bool insideParallel = false;
}  // namespace

void UseEveryCore() { threadsUsed = static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

void UseThreads(int threads) { threadsUsed = std::max(1, threads); }

int WorkerCount() { return threadsUsed; }

bool InsideParallelFor() { return insideParallel; }

WorkDone ParallelWorkDone() { return WorkDone{itemsDone.load(), itemsTotal.load()}; }

void ExpectParallelWork(std::size_t count) {
    itemsTotal += count;
    itemsExpected += count;
}

void ParallelFor(std::size_t count, const std::function<void(std::size_t)>& work) {
    if (insideParallel) {
        for (std::size_t i = 0; i < count; ++i) {
            work(i);
        }
        return;
    }
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> firstFailed{count};
    std::mutex failureLock;
    std::exception_ptr failure;
    // Items counted ahead by ExpectParallelWork are not counted again.
    std::size_t expected = itemsExpected.load();
    while (!itemsExpected.compare_exchange_weak(expected, expected - std::min(expected, count))) {
    }
    itemsTotal += count - std::min(expected, count);

    auto run = [&] {
        insideParallel = true;
        for (;;) {
            const std::size_t i = next.fetch_add(1, std::memory_order_relaxed);
            if (i >= firstFailed.load(std::memory_order_relaxed)) {
                insideParallel = false;
                return;
            }
            try {
                work(i);
                itemsDone.fetch_add(1, std::memory_order_relaxed);
            } catch (...) {
                const std::lock_guard<std::mutex> hold(failureLock);
                if (i < firstFailed.load()) {
                    firstFailed.store(i);
                    failure = std::current_exception();
                }
            }
        }
    };

    const std::size_t threads = std::min<std::size_t>(static_cast<std::size_t>(WorkerCount()), count);
    std::vector<std::thread> helpers;
    for (std::size_t t = 1; t < threads; ++t) {
        // Where the system gives no more threads (a process limit), the ones there are do the work.
        if (!StartHelper(helpers, run)) {
            break;
        }
    }
    run();
    for (std::thread& helper : helpers) {
        helper.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}
