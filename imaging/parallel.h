#pragma once

#include <cstddef>
#include <functional>

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

