#include "runtime/DynamicObject.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "runtime/DynamicNode.h"

namespace runtime {

using detail::load;
using detail::store;

namespace {

// A copy of the bytes that lives as long as the container of the arena (or until freed).
std::string_view copyText(Arena* arena, std::string_view text) {
    if (text.empty()) return {};
    char* at = detail::allocate<char>(arena, text.size());
    std::memcpy(at, text.data(), text.size());
    return {at, text.size()};
}

// Most keys differ in length or in their first byte; only the rest needs a call.
bool sameText(std::string_view a, std::string_view b) noexcept {
    return a.size() == b.size() && (a.empty() || (a[0] == b[0] && std::memcmp(a.data(), b.data(), a.size()) == 0));
}

// Keys are short: eight bytes at a time, mixed by multiplication. Not keyed; a document
// that sets out to collide its keys makes building its objects slower, not wrong.
std::size_t hashOf(std::string_view text) noexcept {
    std::uint64_t hash = 0x9E3779B97F4A7C15u ^ text.size();
    const char* at = text.data();
    std::size_t left = text.size();
    for (; left >= 8; at += 8, left -= 8) {
        std::uint64_t word;
        std::memcpy(&word, at, 8);
        hash = (hash ^ word) * 0xBF58476D1CE4E5B9u;
        hash ^= hash >> 31;
    }
    // The last bytes as whole loads (overlapping when fewer than eight): a byte-wise copy
    // into a word would stall on reading it back.
    std::uint64_t tail = 0;
    if (left >= 4) {
        tail = load<std::uint32_t>(reinterpret_cast<const unsigned char*>(at)) |
               static_cast<std::uint64_t>(load<std::uint32_t>(reinterpret_cast<const unsigned char*>(at + left - 4))) << 32;
    } else if (left > 0) {
        tail = static_cast<unsigned char>(at[0]) | static_cast<unsigned char>(at[left / 2]) << 8 |
               static_cast<unsigned char>(at[left - 1]) << 16;
    }
    // The slot is taken from the low bits: fold the well-mixed high half into them.
    hash = (hash ^ tail) * 0x94D049BB133111EBu;
    return static_cast<std::size_t>(hash ^ (hash >> 32));
}

}  // namespace

DynamicObject::Name::Name(std::string_view text, Arena* arena) {
    if (text.size() <= 15) {
        if (!text.empty()) std::memcpy(raw_, text.data(), text.size());
        raw_[kCountAt] = static_cast<unsigned char>(text.size());
        return;
    }
    if (text.size() > UINT32_MAX) throw std::length_error("Field name too long");
    store(raw_, copyText(arena, text).data());
    store(raw_ + kOutsideSizeAt, static_cast<std::uint32_t>(text.size()));
    raw_[kCountAt] = kOutside;
}

std::string_view DynamicObject::Name::outside() const noexcept {
    return {load<const char*>(raw_), load<std::uint32_t>(raw_ + kOutsideSizeAt)};
}

void DynamicObject::Name::free(Arena* arena) noexcept {
    if (isInside()) return;
    std::string_view text = outside();
    detail::deallocate(arena, const_cast<char*>(text.data()), text.size());
}

DynamicObject::~DynamicObject() {
    for (std::size_t i = 0; i < size_; ++i) {
        fields_[i].name.free(arena_);
        std::destroy_at(fields_ + i);
    }
    detail::deallocate(arena_, fields_, capacity_);
    detail::deallocate(arena_, index_, indexSize_);
}

void DynamicObject::reserve(std::size_t fields) {
    if (fields <= capacity_) return;
    if (fields > kMaxFields) throw std::length_error("Too many fields");
    Field* moved = detail::allocate<Field>(arena_, fields);
    for (std::size_t i = 0; i < size_; ++i) {
        Field* to = ::new (moved + i) Field{fields_[i].name, {}};
        Dynamic::relocate(&to->value, fields_[i].value);
    }
    detail::deallocate(arena_, fields_, capacity_);
    fields_ = moved;
    capacity_ = fields;
}

const Dynamic* DynamicObject::find(std::string_view name) const {
    if (index_ == nullptr) {
        for (std::size_t i = 0; i < size_; ++i) {
            if (sameText(fields_[i].name, name)) return &fields_[i].value;
        }
        return nullptr;
    }
    std::uint32_t at = index_[slotOf(name)];
    return at == 0 ? nullptr : &fields_[at - 1].value;
}

void DynamicObject::set(std::string_view name, Dynamic value) {
    detail::OwedCounts owed(arena_);
    Dynamic replaced;  // goes before owed, and both after the store
    std::size_t slot = 0;
    Dynamic* existing = nullptr;
    if (index_ == nullptr) {
        existing = const_cast<Dynamic*>(find(name));
    } else {
        slot = slotOf(name);
        if (index_[slot] != 0) existing = &fields_[index_[slot] - 1].value;
    }
    if (existing != nullptr) {
        if (arena_ != nullptr) owed.count += value.settleIn(arena_);
        Dynamic::relocate(&replaced, *existing);
        Dynamic::relocate(existing, value);
        return;
    }
    // Whatever may throw comes before the object changes: a failed set leaves it as it was.
    if (size_ == capacity_) {
        // Growing frees the fields, and the name may lie in them (an inline short string or
        // name of one): then a copy is set, as a vector's push_back of its own item would.
        if (viewsFields(name)) return setCopyOf(name, std::move(value));
        // By half, up to kMaxFields; one field past that is refused.
        reserve(std::max({std::size_t{4}, std::min(capacity_ + capacity_ / 2, kMaxFields), size_ + 1}));
    }
    if (size_ + 1 >= kIndexFrom && (index_ == nullptr || (size_ + 1) * 2 > indexSize_)) {
        rebuildIndex(size_ + 1);
        slot = slotOf(name);
    }
    Name fieldName(name, arena_);
    if (arena_ != nullptr) owed.count += value.settleIn(arena_);
    Field* field = ::new (fields_ + size_) Field{fieldName, {}};
    Dynamic::relocate(&field->value, value);
    ++size_;
    if (index_ != nullptr) index_[slot] = static_cast<std::uint32_t>(size_);
}

void DynamicObject::setCopyOf(std::string_view name, Dynamic value) { set(std::string(name), std::move(value)); }

bool DynamicObject::viewsFields(std::string_view text) const noexcept {
    auto at = reinterpret_cast<std::uintptr_t>(text.data());
    auto begin = reinterpret_cast<std::uintptr_t>(fields_);
    return at >= begin && at < begin + capacity_ * sizeof(Field);
}

// The slot holding `name`, or the empty slot where it would go.
std::size_t DynamicObject::slotOf(std::string_view name) const {
    std::size_t mask = indexSize_ - 1;
    std::size_t slot = hashOf(name) & mask;
    while (index_[slot] != 0 && !sameText(fields_[index_[slot] - 1].name, name)) {
        slot = (slot + 1) & mask;
    }
    return slot;
}

void DynamicObject::rebuildIndex(std::size_t fields) {
    std::size_t size = 32;
    while (size < fields * 4) size *= 2;
    std::uint32_t* index = detail::allocate<std::uint32_t>(arena_, size);
    std::fill_n(index, size, 0u);
    detail::deallocate(arena_, index_, indexSize_);
    index_ = index;
    indexSize_ = static_cast<std::uint32_t>(size);
    for (std::size_t i = 0; i < size_; ++i) {
        index_[slotOf(fields_[i].name)] = static_cast<std::uint32_t>(i + 1);
    }
}

}  // namespace runtime
