#pragma once

#include "runtime/helperthread.h"

#include <exception>
#include <thread>
#include <utility>
#include <vector>

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
