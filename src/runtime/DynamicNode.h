#pragma once
// What the value, its array and its object share below their headers: the nodes behind
// long strings, arrays and objects, and memory taken from a document's arena or the heap.
#include <cstddef>
#include <cstring>
#include <limits>
#include <memory_resource>
#include <new>

#include "runtime/Dynamic.h"

namespace runtime {

struct Dynamic::Node {
    std::uint32_t refs = 1;  // heap nodes only: a document's nodes count on their arena
    Tag tag;
    union {
        Arena* arena;     // null for a node on the heap
        Node* nextFreed;  // a heap node that waits to be freed (FreeQueue)
    };
};

// Inline here, where the array and the object call them for every item a parse stores.
inline void Dynamic::setNode(Tag t, Node* n) noexcept {
    setTag(t);
    flag() = 1;
    std::memcpy(payload(), &n, sizeof n);
}

inline bool Dynamic::settleIn(Arena* arena) {
    if (!counts()) return false;
    Node* n = node();
    bool own = n->arena == arena;
    // The container's own document keeps its nodes already; anything else is handed over.
    if (!own) arena->atRelease(&Dynamic::releaseHandedOver, n);
    flag() = 0;
    return own;
}

inline void Dynamic::relocate(Dynamic* to, Dynamic& from) noexcept {
    Dynamic* slot = ::new (to) Dynamic();
    std::memcpy(slot->raw_, from.raw_, sizeof from.raw_);
    from.setTag(Tag::Null);
}

namespace detail {

struct StringNode : Dynamic::Node {
    std::size_t size;
    // The bytes follow the node in the same allocation.
    char* text() noexcept { return reinterpret_cast<char*>(this + 1); }
};
struct ArrayNode : Dynamic::Node {
    DynamicArray items;
};
struct ObjectNode : Dynamic::Node {
    DynamicObject object;
};

inline std::pmr::memory_resource* memoryOf(Arena* arena) noexcept {
    return arena != nullptr ? static_cast<std::pmr::memory_resource*>(arena) : std::pmr::get_default_resource();
}

inline void* allocateBytes(Arena* arena, std::size_t bytes, std::size_t alignment) {
    if (arena != nullptr) return arena->take(bytes, alignment);
    return std::pmr::get_default_resource()->allocate(bytes, alignment);
}

// Throws std::bad_alloc, before anything is taken, for a count whose bytes would wrap.
template <typename T>
T* allocate(Arena* arena, std::size_t count) {
    if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(allocateBytes(arena, count * sizeof(T), alignof(T)));
}

template <typename T>
void deallocate(Arena* arena, T* at, std::size_t count) noexcept {
    if (at != nullptr) memoryOf(arena)->deallocate(at, count * sizeof(T), alignof(T));
}

template <typename T>
void store(unsigned char* at, T value) noexcept {
    std::memcpy(at, &value, sizeof value);
}
template <typename T>
T load(const unsigned char* at) noexcept {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// Counts on a container's own arena that a write took over with the values it stored;
// given back when the write is done, as one of them may be the last keeping the container.
// Declared first in a write, so that it goes last.
struct OwedCounts {
    explicit OwedCounts(Arena* to) noexcept : arena(to) {}
    OwedCounts(const OwedCounts&) = delete;
    OwedCounts& operator=(const OwedCounts&) = delete;
    ~OwedCounts() {
        for (; count > 0; --count) arena->release();
    }
    Arena* arena;
    std::size_t count = 0;
};

}  // namespace detail
}  // namespace runtime
