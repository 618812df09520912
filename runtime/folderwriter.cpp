#include "runtime/folderwriter.h"

#include "runtime/atomicfile.h"
#include "runtime/descriptor.h"
#include "runtime/parallel.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

namespace {
// Files a helper fills before it names them: handing over and waiting cost about as much as
// a file, so they are paid once a batch.
constexpr std::size_t BatchFiles = 64;
// Batches waiting for a helper at most: little memory, and enough to keep helpers busy.
constexpr std::size_t MostQueued = 4;

}  // namespace

struct FolderWriter::Job {
    std::string name;
    std::vector<unsigned char> bytes;
    std::optional<AtomicFile> file;  // filled and not yet named
    int failure = 0;

    // Fills the file unnamed; false, with the failure kept, when that fails.
    bool Fill(int folder) {
        file.emplace();
        failure = file->OpenIn(folder, name) && WriteAll(file->Fd(), bytes.data(), bytes.size()) ? 0 : errno;
        return failure == 0;
    }
    bool Name() {
        if (failure == 0 && !file->Commit()) {
            failure = errno;
        }
        return failure == 0;
    }
};

FolderWriter::FolderWriter(const QString& folder, int helpers)
    : folderPath_(EndsWithSeparator(folder) ? folder : folder + PathSeparator()) {
    folder_ = ::open(ToFsPath(folder).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder_ < 0) {
        if (errno == ENOENT) {
            throw RuntimeError(Err::FileNotFound, ErrorDescription(Err::FileNotFound), folder,
                               QStringLiteral("no such folder"));
        }
        RaiseErrno(errno, folder);
    }
    // Fewer helpers where the system gives no more threads; none writes in the caller's thread.
    for (int i = 0; i < helpers && StartHelper(helpers_, [this] { work(); }); ++i) {
    }
}

FolderWriter::~FolderWriter() {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    stopHelpers();
    ::close(folder_);
}

void FolderWriter::stopHelpers() {
    changed_.notify_all();
    for (std::thread& helper : helpers_) {
        helper.join();
    }
    helpers_.clear();
}

void FolderWriter::writeNow(Job& job) {
    if (!job.Fill(folder_) || !job.Name()) {
        RaiseWriteErrno(job.failure, folderPath_ + QString::fromStdString(job.name));
    }
}

// A helper fills a batch's files unnamed, waits for the batches before it to be named, then
// names its own; other helpers fill theirs meanwhile.
void FolderWriter::work() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        changed_.wait(hold, [this] { return stopping_ || failed_ || !queued_.empty(); });
        if (stopping_ || failed_) {
            return;
        }
        Numbered batch = std::move(queued_.front());
        queued_.pop_front();
        changed_.notify_all();
        hold.unlock();
        for (const std::unique_ptr<Job>& job : batch.jobs) {
            job->Fill(folder_);
        }
        hold.lock();
        changed_.wait(hold, [&] { return stopping_ || failed_ || named_ == batch.number; });
        if (stopping_ || failed_) {
            leftOver_[batch.number] = std::move(batch.jobs);
            return;
        }
        hold.unlock();
        std::size_t done = 0;
        while (done < batch.jobs.size() && batch.jobs[done]->Name()) {
            ++done;
        }
        hold.lock();
        if (done < batch.jobs.size()) {
            failed_ = true;
            batch.jobs.erase(batch.jobs.begin(), batch.jobs.begin() + static_cast<std::ptrdiff_t>(done));
            leftOver_[batch.number] = std::move(batch.jobs);
        } else {
            ++named_;
        }
        changed_.notify_all();
    }
}

void FolderWriter::Write(std::string name, std::vector<unsigned char> bytes) {
    auto job = std::make_unique<Job>();
    job->name = std::move(name);
    job->bytes = std::move(bytes);
    if (helpers_.empty()) {
        writeNow(*job);
        return;
    }
    building_.push_back(std::move(job));
    if (building_.size() == BatchFiles) {
        hand();
    }
}

// Hands the caller's batch over, once there is room; after a failure, goes on alone.
void FolderWriter::hand() {
    {
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait(hold, [this] { return failed_ || queued_.size() < MostQueued; });
        if (!failed_) {
            queued_.push_back(Numbered{handed_++, std::move(building_)});
            building_.clear();
            changed_.notify_all();
            return;
        }
    }
    goOnAlone();
}

void FolderWriter::Finish() {
    if (helpers_.empty()) {
        return;
    }
    if (!building_.empty()) {
        hand();
        if (helpers_.empty()) {
            return;
        }
    }
    {
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait(hold, [this] { return failed_ || named_ == handed_; });
        if (!failed_) {
            return;
        }
    }
    goOnAlone();
}

// After a failure the files from the failed one on are written once more, one by one and in
// order, as they would have been without helpers: the files filled meanwhile are dropped
// unnamed, so a full disk they filled, or a passing failure, ends the same way. The rest of
// the run goes on without helpers.
void FolderWriter::goOnAlone() {
    stopHelpers();
    Batch rest;
    auto take = [&rest](Batch& jobs) {
        for (std::unique_ptr<Job>& job : jobs) {
            rest.push_back(std::move(job));
        }
        jobs.clear();
    };
    for (auto& [number, jobs] : leftOver_) {
        take(jobs);
    }
    leftOver_.clear();
    for (Numbered& batch : queued_) {
        take(batch.jobs);
    }
    queued_.clear();
    take(building_);
    // Space the filled files hold is given back before any is written again.
    for (std::unique_ptr<Job>& job : rest) {
        job->file.reset();
    }
    for (std::unique_ptr<Job>& job : rest) {
        writeNow(*job);
        job.reset();
    }
}
