#pragma once

#include <condition_variable>
#include <mutex>

// Rows of a picture that another thread is still decoding: the decoder tells how many
// are done, readers wait for the rows they need.
class RowFeed {
public:
    // All rows up to this count are in the image.
    void Publish(int rows);
    // The decoder gave up: waiting readers raise 481 "Invalid picture".
    void Fail();
    // Blocks until the first rows are in the image.
    void WaitFor(int rows);

private:
    std::mutex lock_;
    std::condition_variable changed_;
    int rows_ = 0;
    bool failed_ = false;
};
