#pragma once
// A region that the values of one parsed document are allocated from: taking memory is a
// pointer bump in 64 KB blocks and nothing is freed piecemeal. Whatever keeps a part of the
// document (a value, a node handle) holds a count on the whole region, which goes when the
// last count has gone, without visiting its nodes. So freeing a large document costs a few
// block frees instead of one per node; the price is that one small value kept from a large
// document keeps the whole document's memory. An arena's count is not atomic: one
// document, one thread. Freed blocks (up to 16 MB) are kept, process-wide and under a
// lock, for the next arena (see kReusesBlocks). An arena for a few nodes (one made outside
// any document) starts with a small block; blocks double up to the full size.
//
// What the document refers to outside itself (a node of another document or of the heap,
// set into one of its own) is handed over with atRelease: the arena gives it back when it
// goes, since its own nodes are never visited.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <utility>
#include <vector>

namespace runtime {

class Arena : public std::pmr::memory_resource {
public:
    // An owning handle: copies count, the last one to go frees an unused arena.
    class Ref {
    public:
        Ref() = default;
        Ref(const Ref& other) noexcept : arena_(other.arena_) {
            if (arena_) arena_->retain();
        }
        Ref(Ref&& other) noexcept : arena_(std::exchange(other.arena_, nullptr)) {}
        Ref& operator=(Ref other) noexcept {
            std::swap(arena_, other.arena_);
            return *this;
        }
        ~Ref() {
            if (arena_) arena_->release();
        }
        Arena* get() const noexcept { return arena_; }

    private:
        friend class Arena;
        explicit Ref(Arena* arena) noexcept : arena_(arena) {}
        Arena* arena_ = nullptr;
    };

    static constexpr std::size_t kBlock = 64 * 1024;
    // Whether freed blocks are kept for the next arena. Not under AddressSanitizer: a kept
    // block would hide a read through a view that outlived its document.
#if defined(__SANITIZE_ADDRESS__)
    static constexpr bool kReusesBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    static constexpr bool kReusesBlocks = false;
#else
    static constexpr bool kReusesBlocks = true;
#endif
#else
    static constexpr bool kReusesBlocks = true;
#endif

    static Ref create(std::size_t firstBlock = kBlock);
    // Use create(); public only for make_unique.
    Arena() = default;
    ~Arena() override;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    // Another counted handle on this arena.
    Ref share() noexcept {
        retain();
        return Ref(this);
    }
    void retain() noexcept { ++count_; }
    // The last count frees the arena, and gives back what was handed over to it; an arena
    // freed meanwhile waits for the loop of the first (FreeQueue), so that a chain of
    // documents each holding the one before goes without a stack frame per document.
    void release() noexcept;
    // allocate() without the virtual call, for the nodes of a document.
    void* take(std::size_t bytes, std::size_t alignment) {
        std::size_t pad = (0 - reinterpret_cast<std::uintptr_t>(cursor_)) & (alignment - 1);
        if (cursor_ == nullptr || bytes > left_ || pad > left_ - bytes) return do_allocate(bytes, alignment);
        std::byte* at = cursor_ + pad;
        cursor_ = at + bytes;
        left_ -= pad + bytes;
        return at;
    }
    // Runs release(what) when the arena goes.
    void atRelease(void (*release)(void*), void* what) { releases_.push_back({release, what}); }

private:
    struct Block {
        std::unique_ptr<std::byte[]> memory;
        std::size_t size;
    };

    // A block of kBlock bytes kept from a freed arena, or null.
    static std::unique_ptr<std::byte[]> reusedBlock();
    // For FreeQueue: an arena that goes may release the last count on another.
    static Arena*& nextFreed(Arena* arena) noexcept { return arena->nextFreed_; }
    static void destroy(Arena* arena) noexcept { std::unique_ptr<Arena> owner(arena); }
    void* do_allocate(std::size_t bytes, std::size_t alignment) override;
    void do_deallocate(void*, std::size_t, std::size_t) override {}
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }

    std::size_t count_ = 1;
    std::size_t nextBlock_ = kBlock;
    std::vector<Block> blocks_;
    std::vector<std::pair<void (*)(void*), void*>> releases_;
    std::byte* cursor_ = nullptr;
    std::size_t left_ = 0;
    Arena* nextFreed_ = nullptr;
};

}  // namespace runtime
