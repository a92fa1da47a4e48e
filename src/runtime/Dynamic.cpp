#include "runtime/Dynamic.h"

#include <cstring>
#include <functional>
#include <memory>
#include <new>

namespace runtime {

struct Dynamic::Node {
    std::uint32_t refs = 1;
    Arena* arena = nullptr;  // null for a node on the heap
};

namespace {
struct StringNode : Dynamic::Node {
    std::pmr::string text;
    StringNode(std::pmr::memory_resource* memory, std::string_view s) : text(s, memory) {}
};
struct ArrayNode : Dynamic::Node {
    DynamicArray items;
    explicit ArrayNode(std::pmr::memory_resource* memory) : items(memory) {}
};
struct ObjectNode : Dynamic::Node {
    DynamicObject object;
    explicit ObjectNode(std::pmr::memory_resource* memory) : object(memory) {}
};

// A node on the heap, or placed in the arena, which it then holds a count on.
template <typename T, typename... Args>
T* make(Arena* arena, Args&&... args) {
    if (arena == nullptr) {
        return std::make_unique<T>(std::pmr::get_default_resource(), std::forward<Args>(args)...).release();
    }
    void* at = arena->allocate(sizeof(T), alignof(T));
    T* node = ::new (at) T(arena, std::forward<Args>(args)...);
    node->arena = arena;
    arena->retain();
    return node;
}

template <typename T>
void store(unsigned char* at, T value) noexcept {
    std::memcpy(at, &value, sizeof value);
}
// The arena's memory is not freed node by node: only the contents go, and the count.
template <typename T>
void destroy(Dynamic::Node* n) {
    if (Arena* arena = n->arena) {
        static_cast<T*>(n)->~T();
        arena->release();
    } else {
        std::unique_ptr<T> owner(static_cast<T*>(n));
    }
}
template <typename T>
T load(const unsigned char* at) noexcept {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
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
    setNode(Tag::LongString, make<StringNode>(arena, s));
}

Dynamic Dynamic::array(Arena* arena) {
    Dynamic d;
    d.setNode(Tag::Array, make<ArrayNode>(arena));
    return d;
}

Dynamic Dynamic::object(Arena* arena) {
    Dynamic d;
    d.setNode(Tag::Object, make<ObjectNode>(arena));
    return d;
}

Dynamic::Dynamic(const Dynamic& other) noexcept {
    std::memcpy(raw_, other.raw_, sizeof raw_);
    retain();
}

Dynamic::Dynamic(Dynamic&& other) noexcept {
    std::memcpy(raw_, other.raw_, sizeof raw_);
    other.setTag(Tag::Null);
}

Dynamic& Dynamic::operator=(const Dynamic& other) noexcept {
    if (this != &other) {
        other.retain();
        release();
        std::memcpy(raw_, other.raw_, sizeof raw_);
    }
    return *this;
}

Dynamic& Dynamic::operator=(Dynamic&& other) noexcept {
    if (this != &other) {
        release();
        std::memcpy(raw_, other.raw_, sizeof raw_);
        other.setTag(Tag::Null);
    }
    return *this;
}


Dynamic::Node* Dynamic::node() const noexcept { return load<Node*>(raw_ + 8); }

void Dynamic::setNode(Tag t, Node* n) noexcept {
    setTag(t);
    store(raw_ + 8, n);
}

void Dynamic::retain() const noexcept {
    if (hasNode()) ++node()->refs;
}

void Dynamic::releaseNode() noexcept {
    if (--node()->refs == 0) {
        // Each node goes back the way it was made: its own type, heap or arena.
        switch (tag()) {
            case Tag::LongString: destroy<StringNode>(node()); break;
            case Tag::Array: destroy<ArrayNode>(node()); break;
            default: destroy<ObjectNode>(node()); break;
        }
    }
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
    return static_cast<const StringNode*>(node())->text;
}

DynamicArray& Dynamic::asArray() const noexcept { return static_cast<ArrayNode*>(node())->items; }
DynamicObject& Dynamic::asObject() const noexcept {
    return static_cast<ObjectNode*>(node())->object;
}

bool Dynamic::sameNode(const Dynamic& other) const noexcept {
    return hasNode() && other.hasNode() && node() == other.node();
}

const Dynamic* DynamicObject::find(std::string_view name) const {
    if (index_.empty()) {
        for (const Field& f : fields_) {
            if (f.name == name) return &f.value;
        }
        return nullptr;
    }
    std::uint32_t at = index_[slotOf(name)];
    return at == 0 ? nullptr : &fields_[at - 1].value;
}

void DynamicObject::set(std::string_view name, Dynamic value) {
    if (const Dynamic* existing = find(name)) {
        *const_cast<Dynamic*>(existing) = std::move(value);
        return;
    }
    append(name, std::move(value));
}

void DynamicObject::append(std::string_view name, Dynamic&& value) {
    fields_.emplace_back(name, std::move(value));
    if (fields_.size() < kIndexFrom) return;
    if (fields_.size() * 2 > index_.size()) {
        rebuildIndex();
    } else {
        index_[slotOf(fields_.back().name)] = static_cast<std::uint32_t>(fields_.size());
    }
}

// The slot holding `name`, or the empty slot where it would go.
std::size_t DynamicObject::slotOf(std::string_view name) const {
    std::size_t mask = index_.size() - 1;
    std::size_t slot = std::hash<std::string_view>{}(name) & mask;
    while (index_[slot] != 0 && fields_[index_[slot] - 1].name != name) {
        slot = (slot + 1) & mask;
    }
    return slot;
}

void DynamicObject::rebuildIndex() {
    std::size_t size = 32;
    while (size < fields_.size() * 4) size *= 2;
    index_.assign(size, 0);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        index_[slotOf(fields_[i].name)] = static_cast<std::uint32_t>(i + 1);
    }
}

}  // namespace runtime
