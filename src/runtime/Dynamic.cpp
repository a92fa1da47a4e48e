#include "runtime/Dynamic.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

namespace runtime {

struct Dynamic::Node {
    std::uint32_t refs = 1;  // heap nodes only: a document's nodes count on their arena
    Tag tag;
    Arena* arena;            // null for a node on the heap
};

namespace {

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

std::pmr::memory_resource* memoryOf(Arena* arena) noexcept {
    return arena != nullptr ? static_cast<std::pmr::memory_resource*>(arena) : std::pmr::get_default_resource();
}

void* allocateBytes(Arena* arena, std::size_t bytes, std::size_t alignment) {
    if (arena != nullptr) return arena->take(bytes, alignment);
    return std::pmr::get_default_resource()->allocate(bytes, alignment);
}

template <typename T>
T* allocate(Arena* arena, std::size_t count) {
    return static_cast<T*>(allocateBytes(arena, count * sizeof(T), alignof(T)));
}

template <typename T>
void deallocate(Arena* arena, T* at, std::size_t count) noexcept {
    if (at != nullptr) memoryOf(arena)->deallocate(at, count * sizeof(T), alignof(T));
}

// A copy of the bytes that lives as long as the container of the arena (or until freed).
std::string_view copyText(Arena* arena, std::string_view text) {
    if (text.empty()) return {};
    char* at = allocate<char>(arena, text.size());
    std::memcpy(at, text.data(), text.size());
    return {at, text.size()};
}

// Most keys differ in length or in their first byte; only the rest needs a call.
bool sameText(std::string_view a, std::string_view b) noexcept {
    return a.size() == b.size() && (a.empty() || (a[0] == b[0] && std::memcmp(a.data(), b.data(), a.size()) == 0));
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

Dynamic::Dynamic(bool b) noexcept {
    setTag(Tag::Bool);
    store(raw_ + 8, b);
}

Dynamic::Dynamic(std::int32_t i) noexcept {
    setTag(Tag::Int);
    store(raw_ + 8, i);
}

Dynamic::Dynamic(double f) noexcept {
    setTag(Tag::Float);
    store(raw_ + 8, f);
}

Dynamic::Dynamic(std::string_view s, Arena* arena) {
    if (s.size() <= kInline) {
        setTag(Tag::ShortString);
        raw_[1] = static_cast<unsigned char>(s.size());
        if (!s.empty()) std::memcpy(raw_ + 2, s.data(), s.size());
        return;
    }
    void* at = allocateBytes(arena, sizeof(StringNode) + s.size(), alignof(StringNode));
    auto* n = ::new (at) StringNode{{1, Tag::LongString, arena}, s.size()};
    std::memcpy(n->text(), s.data(), s.size());
    if (arena != nullptr) arena->retain();
    setNode(Tag::LongString, n);
}

Dynamic Dynamic::array(Arena* arena) {
    auto* n = ::new (allocate<ArrayNode>(arena, 1)) ArrayNode{{1, Tag::Array, arena}, DynamicArray(arena)};
    if (arena != nullptr) arena->retain();
    Dynamic d;
    d.setNode(Tag::Array, n);
    return d;
}

Dynamic Dynamic::object(Arena* arena) {
    auto* n = ::new (allocate<ObjectNode>(arena, 1)) ObjectNode{{1, Tag::Object, arena}, DynamicObject(arena)};
    if (arena != nullptr) arena->retain();
    Dynamic d;
    d.setNode(Tag::Object, n);
    return d;
}

Dynamic::Dynamic(const Dynamic& other) noexcept {
    std::memcpy(raw_, other.raw_, sizeof raw_);
    if (hasNode()) retain();
}

Dynamic::Dynamic(Dynamic&& other) noexcept {
    std::memcpy(raw_, other.raw_, sizeof raw_);
    // A value leaving a document's container must count from now on.
    if (hasNode() && !counts()) retain();
    other.setTag(Tag::Null);
}

Dynamic& Dynamic::operator=(const Dynamic& other) noexcept {
    if (this != &other) {
        Dynamic copy(other);
        release();
        std::memcpy(raw_, copy.raw_, sizeof raw_);
        copy.setTag(Tag::Null);
    }
    return *this;
}

Dynamic& Dynamic::operator=(Dynamic&& other) noexcept {
    if (this != &other) {
        Dynamic taken(std::move(other));
        release();
        std::memcpy(raw_, taken.raw_, sizeof raw_);
        taken.setTag(Tag::Null);
    }
    return *this;
}

Dynamic::Node* Dynamic::node() const noexcept { return load<Node*>(raw_ + 8); }

void Dynamic::setNode(Tag t, Node* n) noexcept {
    setTag(t);
    raw_[1] = 1;
    store(raw_ + 8, n);
}

void Dynamic::retain() noexcept {
    raw_[1] = 1;
    Node* n = node();
    if (n->arena != nullptr) {
        n->arena->retain();
    } else {
        ++n->refs;
    }
}

void Dynamic::settleIn(Arena* arena) {
    if (!counts()) return;
    Node* n = node();
    if (n->arena == arena) {
        // The container's own document: its holder counts on the arena already.
        arena->release();
    } else {
        arena->atRelease(&Dynamic::releaseHandedOver, n);
    }
    raw_[1] = 0;
}

void Dynamic::releaseCount(Node* n) noexcept {
    if (n->arena != nullptr) {
        n->arena->release();
        return;
    }
    if (--n->refs != 0) return;
    // A heap node goes back the way it was made: its own type, its own size.
    std::pmr::memory_resource* heap = memoryOf(nullptr);
    switch (n->tag) {
        case Tag::LongString:
            heap->deallocate(n, sizeof(StringNode) + static_cast<StringNode*>(n)->size, alignof(StringNode));
            break;
        case Tag::Array:
            std::destroy_at(static_cast<ArrayNode*>(n));
            deallocate(nullptr, static_cast<ArrayNode*>(n), 1);
            break;
        default:
            std::destroy_at(static_cast<ObjectNode*>(n));
            deallocate(nullptr, static_cast<ObjectNode*>(n), 1);
            break;
    }
}

void Dynamic::relocate(Dynamic* to, Dynamic& from) noexcept {
    Dynamic* slot = ::new (to) Dynamic();
    std::memcpy(slot->raw_, from.raw_, sizeof from.raw_);
    from.setTag(Tag::Null);
}

Dynamic::Kind Dynamic::kind() const noexcept {
    switch (tag()) {
        case Tag::Null: return Kind::Null;
        case Tag::Bool: return Kind::Bool;
        case Tag::Int: return Kind::Int;
        case Tag::Float: return Kind::Float;
        case Tag::ShortString:
        case Tag::LongString: return Kind::String;
        case Tag::Array: return Kind::Array;
        case Tag::Object: return Kind::Object;
    }
    return Kind::Null;
}

bool Dynamic::asBool() const noexcept { return load<bool>(raw_ + 8); }
std::int32_t Dynamic::asInt() const noexcept { return load<std::int32_t>(raw_ + 8); }
double Dynamic::asFloat() const noexcept { return load<double>(raw_ + 8); }

std::string_view Dynamic::asString() const noexcept {
    if (tag() == Tag::ShortString) {
        return {reinterpret_cast<const char*>(raw_ + 2), raw_[1]};
    }
    auto* n = static_cast<StringNode*>(node());
    return {n->text(), n->size};
}

DynamicArray& Dynamic::asArray() const noexcept { return static_cast<ArrayNode*>(node())->items; }
DynamicObject& Dynamic::asObject() const noexcept { return static_cast<ObjectNode*>(node())->object; }

bool Dynamic::sameNode(const Dynamic& other) const noexcept {
    return hasNode() && other.hasNode() && node() == other.node();
}

// Arrays

DynamicArray::~DynamicArray() {
    clear();
    deallocate(arena_, items_, capacity_);
}

void DynamicArray::clear() noexcept {
    std::destroy_n(items_, size_);
    size_ = 0;
}

void DynamicArray::reserve(std::size_t capacity) {
    if (capacity <= capacity_) return;
    Dynamic* items = allocate<Dynamic>(arena_, capacity);
    for (std::size_t i = 0; i < size_; ++i) Dynamic::relocate(items + i, items_[i]);
    deallocate(arena_, items_, capacity_);
    items_ = items;
    capacity_ = capacity;
}

void DynamicArray::push_back(Dynamic value) {
    if (size_ == capacity_) reserve(std::max<std::size_t>(4, capacity_ + capacity_ / 2));
    if (arena_ != nullptr) value.settleIn(arena_);
    Dynamic::relocate(items_ + size_++, value);
}

void DynamicArray::assign(std::span<Dynamic> values) {
    clear();
    reserve(values.size());
    for (Dynamic& value : values) {
        if (arena_ != nullptr) value.settleIn(arena_);
        Dynamic::relocate(items_ + size_++, value);
    }
}

DynamicArray& DynamicArray::operator=(std::initializer_list<Dynamic> items) {
    std::vector<Dynamic> copies(items);
    assign(copies);
    return *this;
}

// Objects

DynamicObject::Name::Name(std::string_view text, Arena* arena) {
    if (text.size() <= 15) {
        if (!text.empty()) std::memcpy(raw_, text.data(), text.size());
        raw_[15] = static_cast<unsigned char>(text.size());
        return;
    }
    if (text.size() > UINT32_MAX) throw std::length_error("Field name too long");
    store(raw_, copyText(arena, text).data());
    store(raw_ + 8, static_cast<std::uint32_t>(text.size()));
    raw_[15] = kOutside;
}

std::string_view DynamicObject::Name::outside() const noexcept {
    return {load<const char*>(raw_), load<std::uint32_t>(raw_ + 8)};
}

void DynamicObject::Name::free(Arena* arena) noexcept {
    if (raw_[15] != kOutside) return;
    std::string_view text = outside();
    deallocate(arena, const_cast<char*>(text.data()), text.size());
}

DynamicObject::~DynamicObject() {
    for (std::size_t i = 0; i < size_; ++i) {
        fields_[i].name.free(arena_);
        std::destroy_at(fields_ + i);
    }
    deallocate(arena_, fields_, capacity_);
    deallocate(arena_, index_, indexSize_);
}

void DynamicObject::reserve(std::size_t fields) {
    if (fields <= capacity_) return;
    Field* moved = allocate<Field>(arena_, fields);
    for (std::size_t i = 0; i < size_; ++i) {
        Field* to = ::new (moved + i) Field{fields_[i].name, {}};
        Dynamic::relocate(&to->value, fields_[i].value);
    }
    deallocate(arena_, fields_, capacity_);
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
    if (arena_ != nullptr) value.settleIn(arena_);
    std::size_t slot = 0;
    Dynamic* existing = nullptr;
    if (index_ == nullptr) {
        existing = const_cast<Dynamic*>(find(name));
    } else {
        slot = slotOf(name);
        if (index_[slot] != 0) existing = &fields_[index_[slot] - 1].value;
    }
    if (existing != nullptr) {
        std::destroy_at(existing);
        Dynamic::relocate(existing, value);
        return;
    }
    if (size_ == capacity_) reserve(std::max<std::size_t>(4, capacity_ + capacity_ / 2));
    Field* field = ::new (fields_ + size_) Field{Name(name, arena_), {}};
    Dynamic::relocate(&field->value, value);
    ++size_;
    if (size_ < kIndexFrom) return;
    if (index_ == nullptr || size_ * 2 > indexSize_) {
        rebuildIndex();
    } else {
        index_[slot] = static_cast<std::uint32_t>(size_);
    }
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

void DynamicObject::rebuildIndex() {
    std::size_t size = 32;
    while (size < size_ * 4) size *= 2;
    deallocate(arena_, index_, indexSize_);
    index_ = allocate<std::uint32_t>(arena_, size);
    indexSize_ = static_cast<std::uint32_t>(size);
    std::fill_n(index_, size, 0u);
    for (std::size_t i = 0; i < size_; ++i) {
        index_[slotOf(fields_[i].name)] = static_cast<std::uint32_t>(i + 1);
    }
}

}  // namespace runtime
