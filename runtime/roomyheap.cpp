#include "runtime/roomyheap.h"

#include <cstdint>
#include <cstdlib>

#include <sys/mman.h>

#if defined(__GLIBC__)
#include <malloc.h>
#include <unistd.h>
#endif

void AdviseHugePages(const void* start, std::size_t size) {
    constexpr std::uintptr_t Huge = std::uintptr_t{2} << 20;
    const auto at = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t first = (at + Huge - 1) & ~(Huge - 1);
    const std::uintptr_t end = (at + size) & ~(Huge - 1);
    if (end > first) {
        ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
    }
}

void PrepareMemory(void* start, std::size_t size) {
#if defined(MADV_POPULATE_WRITE)
    constexpr std::uintptr_t Page = 4096;
    const auto at = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t first = (at + Page - 1) & ~(Page - 1);
    const std::uintptr_t end = (at + size) & ~(Page - 1);
    if (end > first) {
        ::madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
    }
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
