#pragma once

#include "runtime/helperqueue.h"

#include <QString>

#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Writes many whole files into one folder, each opened relative to it and put in place whole
// (see AtomicFile). With helper threads, files are filled a batch at a time on each helper
// while the caller goes on, and take their names strictly in the order of Write: a failure
// then stops at the same file, with the same error, as writing them one by one.
class FolderWriter {
public:
    // helpers 0 writes every file at once in the caller's thread. Raises the run-time error
    // of a folder that cannot be opened.
    FolderWriter(const QString& folder, int helpers);
    ~FolderWriter();
    FolderWriter(const FolderWriter&) = delete;
    FolderWriter& operator=(const FolderWriter&) = delete;

    // Writes bytes as the file name, replacing a file of that name. Raises the run-time
    // error of this file's failure, or with helpers of an earlier file's; then no later file
    // appears.
    void Write(std::string name, std::vector<unsigned char> bytes);
    // Waits until every file is in place; raises the first failure.
    void Finish();

private:
    struct Job;
    using Batch = std::vector<std::unique_ptr<Job>>;

    void fillAndName(std::size_t number);
    void hand();
    void writeNow(Job& job);
    void goOnAlone();

    int folder_ = -1;
    QString folderPath_;  // with its separator, to name a file that fails
    std::mutex lock_;
    std::condition_variable changed_;
    Batch building_;                   // the caller's next batch
    // Batches handed over whose files are not all named, by number: a helper fills and names
    // one at a time, and what a failure or stop leaves stays here.
    std::map<std::size_t, Batch> handedOver_;
    std::size_t handed_ = 0;           // batches handed over so far
    std::size_t named_ = 0;            // batches whose files all have their names
    bool failed_ = false;
    bool stopping_ = false;
    HelperQueue helpers_;
};
