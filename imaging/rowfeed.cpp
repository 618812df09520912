#include "imaging/rowfeed.h"

#include "runtime/runtimeerror.h"

void RowFeed::Publish(int rows) {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        rows_ = rows;
    }
    changed_.notify_all();
}

void RowFeed::Fail() {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        failed_ = true;
    }
    changed_.notify_all();
}

void RowFeed::WaitFor(int rows) {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return rows_ >= rows || failed_; });
    if (rows_ < rows) {
        RaiseError(Err::InvalidPicture);
    }
}
