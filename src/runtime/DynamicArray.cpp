#include "runtime/DynamicArray.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "runtime/DynamicNode.h"

namespace runtime {

DynamicArray::~DynamicArray() {
    std::destroy_n(items_, size_);
    detail::deallocate(arena_, items_, capacity_);
}

void DynamicArray::reserve(std::size_t capacity) {
    if (capacity <= capacity_) return;
    Dynamic* items = detail::allocate<Dynamic>(arena_, capacity);
    for (std::size_t i = 0; i < size_; ++i) Dynamic::relocate(items + i, items_[i]);
    detail::deallocate(arena_, items_, capacity_);
    items_ = items;
    capacity_ = capacity;
}

void DynamicArray::push_back(Dynamic value) {
    detail::OwedCounts owed(arena_);
    if (size_ == capacity_) reserve(std::max<std::size_t>(4, capacity_ + capacity_ / 2));
    if (arena_ != nullptr) owed.count += value.settleIn(arena_);
    Dynamic::relocate(items_ + size_++, value);
}

void DynamicArray::assign(std::span<Dynamic> values) {
    Arena* arena = arena_;  // this array may be gone once its old items are
    detail::OwedCounts owed(arena);
    Dynamic* fresh = values.empty() ? nullptr : detail::allocate<Dynamic>(arena, values.size());
    Dynamic* old = std::exchange(items_, fresh);
    std::size_t oldSize = std::exchange(size_, 0);
    std::size_t oldCapacity = std::exchange(capacity_, values.size());
    for (Dynamic& value : values) {
        if (arena != nullptr) owed.count += value.settleIn(arena);
        Dynamic::relocate(items_ + size_++, value);
    }
    std::destroy_n(old, oldSize);
    detail::deallocate(arena, old, oldCapacity);
}

DynamicArray& DynamicArray::operator=(std::initializer_list<Dynamic> items) {
    std::vector<Dynamic> copies(items);
    assign(copies);
    return *this;
}

}  // namespace runtime
