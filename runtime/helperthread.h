#pragma once

#include <system_error>
#include <thread>
#include <utility>
#include <vector>

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
