#include "imaging/surfacememory.h"

#include "runtime/roomyheap.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {
constexpr std::size_t BlockBytes = std::size_t{2} << 20;
// Larger images get memory of their own.
constexpr std::size_t LargestShared = std::size_t{64} << 10;

struct Block {
    unsigned char* base = nullptr;
    std::size_t used = 0;
    std::size_t images = 0;
    bool current = false;
};

// Tiles are loaded and dropped on every core at once: the block being filled and every
// block's image count change only under this lock.
std::mutex blocksLock;
Block* currentBlock = nullptr;
// Emptied blocks kept for the next tiles: fresh memory costs the kernel a page clear, which
// for tens of thousands of tiles loaded and dropped row by row costs more than the decoding.
constexpr std::size_t KeptBlocks = 4;
// Never destroyed, so the kept blocks stay reachable to the very end of the process.
std::vector<unsigned char*>& keptBlocks = *new std::vector<unsigned char*>;

// Called with blocksLock held.
void release(Block* block) {
    if (block->images == 0 && !block->current) {
        if (keptBlocks.size() < KeptBlocks) {
            keptBlocks.push_back(block->base);
        } else {
            std::free(block->base);
        }
        delete block;
    }
}

void imageGone(void* info) {
    auto* block = static_cast<Block*>(info);
    const std::lock_guard<std::mutex> hold(blocksLock);
    --block->images;
    release(block);
}

// Called with blocksLock held.
Block* newBlock() {
    void* memory = nullptr;
    if (!keptBlocks.empty()) {
        memory = keptBlocks.back();
        keptBlocks.pop_back();
    } else {
        memory = HugePageMemory(BlockBytes);
    }
    if (memory == nullptr) {
        return nullptr;
    }
    auto* block = new Block;
    block->base = static_cast<unsigned char*>(memory);
    block->current = true;
    return block;
}
// Memory of its own, in huge pages.
QImage largeImage(int width, int height, qsizetype rowBytes, QImage::Format format, std::size_t bytes) {
    void* memory = HugePageMemory(bytes);
    if (memory == nullptr) {
        return QImage();
    }
    return QImage(static_cast<unsigned char*>(memory), width, height, rowBytes, format,
                  [](void* info) { std::free(info); }, memory);
}
}  // namespace

void* HugePageMemory(std::size_t bytes) {
    const std::size_t rounded = (std::max<std::size_t>(bytes, 1) + BlockBytes - 1) / BlockBytes * BlockBytes;
    void* memory = std::aligned_alloc(BlockBytes, rounded);
    if (memory != nullptr) {
        AdviseHugePages(memory, rounded);
    }
    return memory;
}

QImage NewSurfaceImage(int width, int height, QImage::Format format) {
    if (width <= 0 || height <= 0 || (format != QImage::Format_RGB32 && format != QImage::Format_BGR888)) {
        return QImage();
    }
    const qsizetype rowBytes = format == QImage::Format_RGB32 ? qsizetype{width} * 4 : (qsizetype{width} * 3 + 3) & ~qsizetype{3};
    const std::size_t bytes = static_cast<std::size_t>(rowBytes) * static_cast<std::size_t>(height);
    if (bytes > LargestShared) {
        return largeImage(width, height, rowBytes, format, bytes);
    }
    unsigned char* pixels = nullptr;
    Block* block = nullptr;
    {
        const std::lock_guard<std::mutex> hold(blocksLock);
        if (currentBlock == nullptr || BlockBytes - currentBlock->used < bytes) {
            Block* fresh = newBlock();
            if (fresh == nullptr) {
                return QImage(width, height, format);
            }
            if (currentBlock != nullptr) {
                currentBlock->current = false;
                release(currentBlock);
            }
            currentBlock = fresh;
        }
        block = currentBlock;
        pixels = block->base + block->used;
        // Every image starts on a 16-byte boundary, as the painting code likes it.
        block->used += (bytes + 15) & ~std::size_t{15};
        ++block->images;
    }
    // Outside the lock: an image that fails to form hands its memory straight back.
    return QImage(pixels, width, height, rowBytes, format, &imageGone, block);
}
