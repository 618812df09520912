#pragma once

#include <QString>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class AtomicFile;

// Writes many whole files into one folder, each opened relative to it and put in place whole
// (see AtomicFile). With a helper thread, opening and filling the next files goes on beside
// the caller's work while names are still given one at a time in the order of Write: a
// failure then stops at the same file, with the same error, as writing them one by one.
class FolderWriter {
public:
    // Raises the run-time error of a folder that cannot be opened.
    FolderWriter(const QString& folder, bool helperThread);
    ~FolderWriter();
    FolderWriter(const FolderWriter&) = delete;
    FolderWriter& operator=(const FolderWriter&) = delete;

    // Writes bytes as the file name, replacing a file of that name. Raises the run-time
    // error of this file's failure, or with a helper of an earlier file's; then no later file
    // appears.
    void Write(std::string name, std::vector<unsigned char> bytes);
    // Waits until every file is in place; raises the first failure.
    void Finish();

private:
    struct Job;

    void work();
    void commitReady(bool wait);
    void stopHelper();
    void writeNow(Job& job);
    void goOnAlone(std::deque<std::unique_ptr<Job>> rest);

    int folder_ = -1;
    std::mutex lock_;
    std::condition_variable toHelper_;
    std::condition_variable toCaller_;
    std::deque<std::unique_ptr<Job>> waiting_;  // to be opened and filled by the helper
    std::deque<std::unique_ptr<Job>> filled_;   // filled, waiting for their names
    std::size_t inFlight_ = 0;  // handed over and not yet named, the one the helper holds included
    bool stopping_ = false;
    std::thread helper_;
};
