#include "runtime/wholefile.h"

#include "runtime/atomicfile.h"
#include "runtime/descriptor.h"
#include "runtime/parallel.h"
#include "runtime/paths.h"
#include "runtime/roomyheap.h"
#include "runtime/runtimeerror.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <vector>

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
    // The buffer's pages are cleared when first written, which on a virtual machine took as
    // long as the read: a helper takes the second half's while this thread fills the first.
    std::vector<std::thread> helper;
    if (into.capacity() >= (std::size_t{4} << 20) && WorkerCount() > 1 && !InsideParallelFor()) {
        const std::size_t half = into.capacity() / 2;
        StartHelper(helper, [start = into.data() + half, bytes = into.capacity() - half] { PrepareMemory(start, bytes); });
    }
    into.resize(static_cast<std::size_t>(size));
    if (!helper.empty()) {
        helper.front().join();
    }
    const long got = ReadAll(file.get(), into.data(), into.size(), 0);
    if (got < 0) {
        RaiseErrno(errno, path);
    }
    // A file that shrank meanwhile: what is there is what we decode.
    into.resize(static_cast<std::size_t>(got));
}

QByteArray ReadWholeFile(const QString& path) {
    std::vector<unsigned char> data;
    ReadWholeFile(path, data);
    return QByteArray(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
}
