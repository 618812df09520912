#pragma once

#include <sys/resource.h>

#include <chrono>

// Seconds since a moment of the run.
inline double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The most memory the process has held so far, in MiB.
inline long PeakMiB() {
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}
