#pragma once

#include <cstddef>
#include <functional>

// Threads a batch job uses: one per core.
int WorkerCount();

// Runs work(i) for every i below count on WorkerCount() threads. When items fail, the
// failure of the lowest item is rethrown once all threads stopped; items above a failed
// one are not started.
void ParallelFor(std::size_t count, const std::function<void(std::size_t)>& work);
