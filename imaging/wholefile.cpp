#include "imaging/wholefile.h"

#include "runtime/descriptor.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

void WriteWholeFile(const QString& path, const void* data, std::size_t size) {
    const std::filesystem::path target = ToFsPath(path);
    // A new name is written in place and removed again on failure; an existing file is
    // replaced by a rename, so it stays whole until the new one is.
    std::filesystem::path written = target;
    int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) {
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            RaiseErrno(EISDIR);
        }
        if (::access(target.c_str(), W_OK) != 0) {
            RaiseError(Err::PermissionDenied);
        }
        written += ".tilvex-tmp";
        fd = ::open(written.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    }
    if (fd < 0) {
        RaiseErrno(errno);
    }
    bool ok = WriteAll(fd, data, size);
    int failure = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    if (ok && written != target && ::rename(written.c_str(), target.c_str()) != 0) {
        ok = false;
        failure = errno;
    }
    if (!ok) {
        ::unlink(written.c_str());
        RaiseErrno(failure);
    }
}

void ReadWholeFile(const QString& path, std::vector<unsigned char>& into) {
    std::int64_t size = 0;
    const Descriptor file(OpenRegularFile(path, size));
    into.resize(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < into.size()) {
        const ssize_t n = ::read(file.get(), into.data() + done, into.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            RaiseErrno(errno);
        }
        if (n == 0) {
            break;  // the file shrank meanwhile: what is there is what we decode
        }
        done += static_cast<std::size_t>(n);
    }
    into.resize(done);
}
