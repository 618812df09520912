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
    changed_.notify_all();
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
        changed_.wait(hold, [this] { return stopping_ || !waiting_.empty(); });
        if (stopping_) {
            return;
        }
        std::unique_ptr<Job> job = std::move(waiting_.front());
        waiting_.pop_front();
        hold.unlock();
        job->failure = writeWhole(job->file, folder_, job->name, job->bytes);
        hold.lock();
        filled_.push_back(std::move(job));
        changed_.notify_all();
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
    {
        const std::lock_guard<std::mutex> hold(lock_);
        waiting_.push_back(std::move(job));
        ++inFlight_;
    }
    changed_.notify_all();
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
        std::unique_ptr<Job> job;
        {
            std::unique_lock<std::mutex> hold(lock_);
            const auto enough = [&] { return !filled_.empty() || inFlight_ == 0 || (!wait && inFlight_ < MostInFlight); };
            changed_.wait(hold, enough);
            if (filled_.empty()) {
                return;
            }
            job = std::move(filled_.front());
            filled_.pop_front();
            --inFlight_;
        }
        if (job->failure != 0 || !job->file.Commit()) {
            goOnAlone(std::move(job));
            return;
        }
    }
}

// After a failure the files from the failed one on are written once more, one by one, as
// they would have been without a helper: the files filled meanwhile are dropped unnamed, so
// a full disk they filled, or a passing failure, ends the same way. The rest of the run goes
// on without the helper.
void FolderWriter::goOnAlone(std::unique_ptr<Job> failed) {
    stopHelper();
    std::vector<std::unique_ptr<Job>> rest;
    rest.push_back(std::move(failed));
    for (auto* queue : {&filled_, &waiting_}) {
        for (std::unique_ptr<Job>& job : *queue) {
            rest.push_back(std::move(job));
        }
        queue->clear();
    }
    inFlight_ = 0;
    for (std::unique_ptr<Job>& job : rest) {
        writeNow(*job);
        job.reset();
    }
}
