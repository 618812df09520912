#include "runtime/folderwriter.h"

#include "runtime/atomicfile.h"
#include "runtime/descriptor.h"
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

int openFolder(const QString& folder) {
    const int fd = ::open(ToFsPath(folder).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            throw RuntimeError(Err::FileNotFound, ErrorDescription(Err::FileNotFound), folder,
                               QStringLiteral("no such folder"));
        }
        RaiseErrno(errno, folder);
    }
    return fd;
}

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
    : folder_(openFolder(folder)), folderPath_(EndsWithSeparator(folder) ? folder : folder + PathSeparator()),
      helpers_(helpers) {}

FolderWriter::~FolderWriter() {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    helpers_.Stop();
    ::close(folder_);
}

void FolderWriter::writeNow(Job& job) {
    if (!job.Fill(folder_) || !job.Name()) {
        RaiseWriteErrno(job.failure, folderPath_ + QString::fromStdString(job.name));
    }
}

// A helper fills a batch's files unnamed, waits for the batches before it to be named, then
// names its own; other helpers fill theirs meanwhile.
void FolderWriter::fillAndName(std::size_t number) {
    std::unique_lock<std::mutex> hold(lock_);
    if (stopping_ || failed_) {
        return;
    }
    // Only this helper touches the batch until it is named or the helpers are stopped.
    Batch& jobs = handedOver_.at(number);
    hold.unlock();
    for (const std::unique_ptr<Job>& job : jobs) {
        job->Fill(folder_);
    }
    hold.lock();
    changed_.wait(hold, [&] { return stopping_ || failed_ || named_ == number; });
    if (stopping_ || failed_) {
        return;
    }
    hold.unlock();
    std::size_t done = 0;
    while (done < jobs.size() && jobs[done]->Name()) {
        ++done;
    }
    hold.lock();
    if (done < jobs.size()) {
        failed_ = true;
        jobs.erase(jobs.begin(), jobs.begin() + static_cast<std::ptrdiff_t>(done));
    } else {
        handedOver_.erase(number);
        ++named_;
    }
    changed_.notify_all();
}

void FolderWriter::Write(std::string name, std::vector<unsigned char> bytes) {
    auto job = std::make_unique<Job>();
    job->name = std::move(name);
    job->bytes = std::move(bytes);
    if (helpers_.Threads() == 0) {
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
    std::size_t number = 0;
    bool failed = false;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        failed = failed_;
        if (!failed) {
            number = handed_++;
            handedOver_.emplace(number, std::move(building_));
            building_.clear();
        }
    }
    if (!failed) {
        helpers_.Post([this, number] { fillAndName(number); }, MostQueued);
        const std::lock_guard<std::mutex> hold(lock_);
        failed = failed_;
    }
    if (failed) {
        goOnAlone();
    }
}

void FolderWriter::Finish() {
    if (helpers_.Threads() == 0) {
        return;
    }
    if (!building_.empty()) {
        hand();
        if (helpers_.Threads() == 0) {
            return;
        }
    }
    helpers_.Wait();
    bool failed = false;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        failed = failed_;
    }
    if (failed) {
        goOnAlone();
    }
}

// After a failure the files from the failed one on are written once more, one by one and in
// order, as they would have been without helpers: the files filled meanwhile are dropped
// unnamed, so a full disk they filled, or a passing failure, ends the same way. The rest of
// the run goes on without helpers.
void FolderWriter::goOnAlone() {
    helpers_.Stop();
    Batch rest;
    for (auto& [number, jobs] : handedOver_) {
        for (std::unique_ptr<Job>& job : jobs) {
            rest.push_back(std::move(job));
        }
    }
    handedOver_.clear();
    for (std::unique_ptr<Job>& job : building_) {
        rest.push_back(std::move(job));
    }
    building_.clear();
    // Space the filled files hold is given back before any is written again.
    for (std::unique_ptr<Job>& job : rest) {
        job->file.reset();
    }
    for (std::unique_ptr<Job>& job : rest) {
        writeNow(*job);
        job.reset();
    }
}
