#include "runtime/Arena.h"

#include <memory>

namespace runtime {

namespace {

// Blocks of freed arenas, kept for the next ones on this thread: handing a large freed
// region back to the system and faulting it in again costs more than the parse itself.
// Bounded, so that one huge document does not pin its memory for good.
constexpr std::size_t kCachedBlocks = 256;  // 16 MB

std::vector<std::unique_ptr<std::byte[]>>& cachedBlocks() {
    thread_local std::vector<std::unique_ptr<std::byte[]>> blocks;
    return blocks;
}

}  // namespace

Arena::Ref Arena::create() {
    // The count starts at one, for the handle; the arena owns itself from here on.
    return Ref(std::make_unique<Arena>().release());
}

void Arena::release() noexcept {
    if (--count_ == 0) std::unique_ptr<Arena> owner(this);
}

Arena::~Arena() {
    auto& cache = cachedBlocks();
    for (Block& block : blocks_) {
        if (block.size == kBlock && cache.size() < kCachedBlocks) cache.push_back(std::move(block.memory));
    }
}

void* Arena::do_allocate(std::size_t bytes, std::size_t alignment) {
    void* at = cursor_;
    if (cursor_ == nullptr || std::align(alignment, bytes, at, left_) == nullptr) {
        std::size_t size = bytes + alignment > kBlock ? bytes + alignment : kBlock;
        auto& cache = cachedBlocks();
        if (size == kBlock && !cache.empty()) {
            blocks_.push_back({std::move(cache.back()), size});
            cache.pop_back();
        } else {
            blocks_.push_back({std::make_unique_for_overwrite<std::byte[]>(size), size});
        }
        at = blocks_.back().memory.get();
        left_ = size;
        std::align(alignment, bytes, at, left_);
    }
    cursor_ = static_cast<std::byte*>(at) + bytes;
    left_ -= bytes;
    return at;
}

}  // namespace runtime
