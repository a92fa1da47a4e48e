#include "runtime/Arena.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <mutex>
#include <new>

#include "runtime/FreeQueue.h"

namespace runtime {

namespace {

// Blocks of freed arenas, kept for the next ones: handing a large freed region back to
// the system and faulting it in again costs more than the parse itself. Bounded, so that
// one huge document does not pin its memory for good. Process-wide rather than per
// thread, as thread-local objects are destroyed before statics.
constexpr std::size_t kCachedBlocks = 256;  // 16 MB

struct BlockCache {
    std::mutex lock;
    std::vector<std::unique_ptr<std::byte[]>> blocks;
    // A static that keeps a document may free it at exit after the cache (made later) has
    // gone; this flag, which has nothing to destroy, then sends its blocks straight back
    // to the system.
    static inline bool gone = false;
    ~BlockCache() { gone = true; }
};

// Null once the cache has gone.
BlockCache* cache() {
    static BlockCache c;
    return BlockCache::gone ? nullptr : &c;
}

}  // namespace

Arena::Ref Arena::create(std::size_t firstBlock) {
    // The count starts at one, for the handle; the arena owns itself from here on.
    auto arena = std::make_unique<Arena>();
    arena->nextBlock_ = std::min(firstBlock, kBlock);
    return Ref(arena.release());
}

void Arena::release() noexcept {
    if (--count_ == 0) FreeQueue<Arena, &Arena::nextFreed, &Arena::destroy>::free(this);
}

Arena::~Arena() {
    for (auto [release, what] : releases_) release(what);
    BlockCache* kept = kReusesBlocks ? cache() : nullptr;
    if (kept == nullptr) return;
    std::lock_guard<std::mutex> guard(kept->lock);
    for (Block& block : blocks_) {
        if (block.size == kBlock && kept->blocks.size() < kCachedBlocks) kept->blocks.push_back(std::move(block.memory));
    }
}

std::unique_ptr<std::byte[]> Arena::reusedBlock() {
    BlockCache* kept = cache();
    if (kept == nullptr) return nullptr;
    std::lock_guard<std::mutex> guard(kept->lock);
    if (kept->blocks.empty()) return nullptr;
    std::unique_ptr<std::byte[]> block = std::move(kept->blocks.back());
    kept->blocks.pop_back();
    return block;
}

void* Arena::do_allocate(std::size_t bytes, std::size_t alignment) {
    // A new block takes the bytes and their alignment: a size that wraps is refused.
    if (bytes > std::numeric_limits<std::size_t>::max() - alignment) throw std::bad_alloc();
    void* at = cursor_;
    if (cursor_ == nullptr || std::align(alignment, bytes, at, left_) == nullptr) {
        std::size_t size = std::max(bytes + alignment, nextBlock_);
        nextBlock_ = std::min(nextBlock_ * 2, kBlock);
        blocks_.push_back({size == kBlock && kReusesBlocks ? reusedBlock() : nullptr, size});
        if (!blocks_.back().memory) blocks_.back().memory = std::make_unique_for_overwrite<std::byte[]>(size);
        at = blocks_.back().memory.get();
        left_ = size;
        std::align(alignment, bytes, at, left_);
    }
    cursor_ = static_cast<std::byte*>(at) + bytes;
    left_ -= bytes;
    return at;
}

}  // namespace runtime
