#include "runtime/roomyheap.h"

#include <cstdint>
#include <cstdlib>

#include <sys/mman.h>

#if defined(__GLIBC__)
#include <malloc.h>
#include <unistd.h>
#endif

namespace {
// The advice over the whole units (a power of two) within size bytes from start.
void adviseWholeUnits(const void* start, std::size_t size, std::uintptr_t unit, int advice) {
    const auto at = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t first = (at + unit - 1) & ~(unit - 1);
    const std::uintptr_t end = (at + size) & ~(unit - 1);
    if (end > first) {
        ::madvise(reinterpret_cast<void*>(first), end - first, advice);
    }
}
}  // namespace

void AdviseHugePages(const void* start, std::size_t size) { adviseWholeUnits(start, size, std::uintptr_t{2} << 20, MADV_HUGEPAGE); }

void PrepareMemory(void* start, std::size_t size) {
#if defined(MADV_POPULATE_WRITE)
    adviseWholeUnits(start, size, 4096, MADV_POPULATE_WRITE);
#else
    (void)start;
    (void)size;
#endif
}

void UseRoomyHeap() {
#if defined(__GLIBC__)
    // Bands are a few MiB; blocks up to a sheet's band of tiles stay in the heap.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    // Threads take turns at the one heap: they allocate seldom, and its memory is reused
    // whichever thread freed it.
    mallopt(M_ARENA_MAX, 1);
    // The heap is stretched once by far more than a run's bands take, and the stretch advised
    // huge pages: the system gives a huge page only where one mapping with that advice covers
    // all of its 2 MiB, and each later stretch would be a mapping of its own. Nothing is
    // touched, so nothing is used until a band is.
    constexpr std::size_t Stretch = std::size_t{128} << 20;
    mallopt(M_TOP_PAD, static_cast<int>(Stretch));
    const auto before = reinterpret_cast<std::uintptr_t>(sbrk(0));
    // More than the heap has free, less than goes to a mapping of its own: the heap grows.
    void* volatile block = std::malloc(std::size_t{16} << 20);
    std::free(block);
    const auto after = reinterpret_cast<std::uintptr_t>(sbrk(0));
    if (after > before) {
        AdviseHugePages(reinterpret_cast<const void*>(before), after - before);
    }
#endif
}
