#pragma once

#include "runtime/helperqueue.h"

#include <QImage>
#include <QString>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// Bitmap files read and decoded ahead on a helper thread, for a caller that knows which it
// will load next (the next row of a sheet's tiles while this one is drawn). A file is taken
// at most once; one that is not ready or failed ahead is left to the caller to read, so it
// fails there as it would have.
class BitmapsAhead {
public:
    // read makes a file's image, a null one when the file is no bitmap; the caller reads
    // with it too.
    explicit BitmapsAhead(QImage (*read)(const QString& file)) : read_(read) {}
    ~BitmapsAhead();
    BitmapsAhead(const BitmapsAhead&) = delete;
    BitmapsAhead& operator=(const BitmapsAhead&) = delete;

    // Queues the files to be read; the last queued are read first. Without a thread to spare,
    // nothing is read ahead.
    void Read(std::vector<QString> files);
    // The image of a file read ahead (waiting if it is being read), or nothing.
    std::optional<QImage> Take(const QString& file);

private:
    enum class State { Queued, Reading, Ready };
    struct Ahead {
        State state = State::Queued;
        QImage image;
    };

    void readAhead(const QString& file);

    QImage (*read_)(const QString& file);
    std::mutex lock_;
    std::condition_variable changed_;
    std::map<QString, Ahead> files_;  // queued, being read or ready
    std::unique_ptr<HelperQueue> helper_;
};
