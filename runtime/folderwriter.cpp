#include "runtime/folderwriter.h"

#include "runtime/atomicfile.h"
#include "runtime/descriptor.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {
// Files in flight at most: enough to keep the helper busy, little memory for big files.
constexpr std::size_t MostInFlight = 64;
constexpr std::size_t Batch = 16;

// A failure of this file, or 0.
int writeWhole(AtomicFile& file, int folder, const std::string& name, const std::vector<unsigned char>& bytes) {
    if (!file.OpenIn(folder, name) || !WriteAll(file.Fd(), bytes.data(), bytes.size())) {
        return errno;
    }
    return 0;
}
}  // namespace

struct FolderWriter::Job {
    std::string name;
    std::vector<unsigned char> bytes;
    AtomicFile file;
    int failure = 0;
};

FolderWriter::FolderWriter(const QString& folder, bool helperThread) {
    folder_ = ::open(ToFsPath(folder).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder_ < 0) {
        RaiseErrno(errno);
    }
    if (helperThread) {
        helper_ = std::thread([this] { work(); });
    }
}

FolderWriter::~FolderWriter() {
    stopHelper();
    filled_.clear();
    ::close(folder_);
}

void FolderWriter::stopHelper() {
    if (!helper_.joinable()) {
        return;
    }
    {
        const std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    toHelper_.notify_one();
    helper_.join();
}

void FolderWriter::writeNow(Job& job) {
    job.failure = writeWhole(job.file, folder_, job.name, job.bytes);
    if (job.failure != 0 || !job.file.Commit()) {
        RaiseErrno(job.failure != 0 ? job.failure : errno);
    }
}

void FolderWriter::work() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        toHelper_.wait(hold, [this] { return stopping_ || !waiting_.empty(); });
        if (stopping_) {
            return;
        }
        std::unique_ptr<Job> job = std::move(waiting_.front());
        waiting_.pop_front();
        hold.unlock();
        job->failure = writeWhole(job->file, folder_, job->name, job->bytes);
        hold.lock();
        filled_.push_back(std::move(job));
        // Waking the caller costs about as much as a file: it is woken for a batch of them,
        // or when the helper runs dry.
        if (filled_.size() >= Batch || waiting_.empty()) {
            toCaller_.notify_one();
        }
    }
}

void FolderWriter::Write(std::string name, std::vector<unsigned char> bytes) {
    auto job = std::make_unique<Job>();
    job->name = std::move(name);
    job->bytes = std::move(bytes);
    if (!helper_.joinable()) {
        writeNow(*job);
        return;
    }
    bool helperIdle = false;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        helperIdle = waiting_.empty();
        waiting_.push_back(std::move(job));
        ++inFlight_;
    }
    if (helperIdle) {
        toHelper_.notify_one();
    }
    commitReady(false);
}

void FolderWriter::Finish() {
    if (helper_.joinable()) {
        commitReady(true);
    }
}

// Names the files the helper has filled, in order; with wait, until none is left, otherwise
// only while too many are in flight.
void FolderWriter::commitReady(bool wait) {
    for (;;) {
        std::deque<std::unique_ptr<Job>> ready;
        {
            std::unique_lock<std::mutex> hold(lock_);
            if (filled_.empty()) {
                if (inFlight_ == 0 || (!wait && inFlight_ < MostInFlight)) {
                    return;
                }
                toCaller_.wait(hold, [this] { return filled_.size() >= Batch || (!filled_.empty() && waiting_.empty()); });
            }
            ready.swap(filled_);
            inFlight_ -= ready.size();
        }
        while (!ready.empty()) {
            if (ready.front()->failure != 0 || !ready.front()->file.Commit()) {
                goOnAlone(std::move(ready));
                return;
            }
            ready.pop_front();
        }
    }
}

// After a failure the files from the failed one on are written once more, one by one, as
// they would have been without a helper: the files filled meanwhile are dropped unnamed, so
// a full disk they filled, or a passing failure, ends the same way. The rest of the run goes
// on without the helper.
void FolderWriter::goOnAlone(std::deque<std::unique_ptr<Job>> rest) {
    stopHelper();
    for (auto* queue : {&filled_, &waiting_}) {
        for (std::unique_ptr<Job>& job : *queue) {
            rest.push_back(std::move(job));
        }
        queue->clear();
    }
    inFlight_ = 0;
    while (!rest.empty()) {
        writeNow(*rest.front());
        rest.pop_front();
    }
}
