#include "runtime/wholefile.h"

#include "runtime/atomicfile.h"
#include "runtime/descriptor.h"
#include "runtime/paths.h"
#include "runtime/roomyheap.h"
#include "runtime/runtimeerror.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

void WriteWholeFile(const QString& path, const void* data, std::size_t size) {
    AtomicFile file;
    if (!file.Open(ToFsPath(path)) || !WriteAll(file.Fd(), data, size) || !file.Commit()) {
        RaiseWriteErrno(errno, path);
    }
}

void ReadWholeFile(const QString& path, std::vector<unsigned char>& into) {
    std::int64_t size = 0;
    const Descriptor file(OpenRegularFile(path, size));
    // A big file's memory in huge pages where the system gives them: a page fault every 4 KiB
    // was a good part of reading a big sheet.
    into.reserve(static_cast<std::size_t>(size));
    AdviseHugePages(into.data(), into.capacity());
    into.resize(static_cast<std::size_t>(size));
    const long got = ReadAll(file.get(), into.data(), into.size(), 0);
    if (got < 0) {
        RaiseErrno(errno, path);
    }
    // A file that shrank meanwhile: what is there is what we decode.
    into.resize(static_cast<std::size_t>(got));
}
