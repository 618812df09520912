#pragma once

#include <QImage>
#include <QString>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

// Bitmap files read and decoded ahead on a helper thread, for a caller that knows which it
// will load next (the next row of a sheet's tiles while this one is drawn). A file is taken
// at most once; one that is not ready or failed ahead is left to the caller to read, so it
// fails there as it would have.
class BitmapsAhead {
public:
    BitmapsAhead() = default;
    ~BitmapsAhead();
    BitmapsAhead(const BitmapsAhead&) = delete;
    BitmapsAhead& operator=(const BitmapsAhead&) = delete;

    // Queues the files to be read; the last queued are read first. Without a thread to spare,
    // nothing is read ahead.
    void Read(std::vector<QString> files);
    // The image of a file read ahead (waiting if it is being read), or nothing.
    std::optional<QImage> Take(const QString& file);

private:
    void work();

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<QString> queued_;
    std::map<QString, QImage> ready_;
    std::set<QString> known_;  // queued, being read or ready
    QString reading_;
    bool stopping_ = false;
    bool unavailable_ = false;
    std::vector<std::thread> helper_;
};
