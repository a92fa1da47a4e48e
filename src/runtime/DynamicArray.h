#pragma once
// The items of an array node (Dynamic::asArray). Grows by half at least; in a document, its
// buffers stay in the arena until the document goes.
#include <cstddef>
#include <initializer_list>
#include <span>

#include "runtime/Dynamic.h"

namespace runtime {

class DynamicArray {
public:
    explicit DynamicArray(Arena* arena) noexcept : arena_(arena) {}
    ~DynamicArray();
    DynamicArray(const DynamicArray&) = delete;
    DynamicArray& operator=(const DynamicArray&) = delete;
    DynamicArray& operator=(std::initializer_list<Dynamic> items);

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    const Dynamic& operator[](std::size_t i) const noexcept { return items_[i]; }
    const Dynamic* begin() const noexcept { return items_; }
    const Dynamic* end() const noexcept { return items_ + size_; }

    // Each write stores first and lets go of what it replaced, and of its argument's count,
    // last: either may be what keeps this array alive.
    void push_back(Dynamic value);
    // Replaces the items with the values, which are moved from.
    void assign(std::span<Dynamic> values);

private:
    void reserve(std::size_t capacity);

    Arena* arena_;  // null on the heap
    Dynamic* items_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace runtime
