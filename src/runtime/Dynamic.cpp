#include "runtime/Dynamic.h"

#include <memory>
#include <new>

#include "runtime/DynamicNode.h"
#include "runtime/FreeQueue.h"

namespace runtime {

using detail::load;
using detail::store;

Dynamic::Dynamic(bool b) noexcept {
    setTag(Tag::Bool);
    store(payload(), b);
}

Dynamic::Dynamic(std::int32_t i) noexcept {
    setTag(Tag::Int);
    store(payload(), i);
}

Dynamic::Dynamic(double f) noexcept {
    setTag(Tag::Float);
    store(payload(), f);
}

Dynamic::Dynamic(std::string_view s, Arena* arena) {
    if (s.size() <= kInline) {
        setTag(Tag::ShortString);
        flag() = static_cast<unsigned char>(s.size());
        if (!s.empty()) std::memcpy(raw_ + kShortAt, s.data(), s.size());
        return;
    }
    void* at = detail::allocateBytes(arena, sizeof(detail::StringNode) + s.size(), alignof(detail::StringNode));
    auto* n = ::new (at) detail::StringNode{{1, Tag::LongString, {arena}}, s.size()};
    std::memcpy(n->text(), s.data(), s.size());
    if (arena != nullptr) arena->retain();
    setNode(Tag::LongString, n);
}

Dynamic Dynamic::array(Arena* arena) {
    auto* n = ::new (detail::allocate<detail::ArrayNode>(arena, 1))
        detail::ArrayNode{{1, Tag::Array, {arena}}, DynamicArray(arena)};
    if (arena != nullptr) arena->retain();
    Dynamic d;
    d.setNode(Tag::Array, n);
    return d;
}

Dynamic Dynamic::object(Arena* arena) {
    auto* n = ::new (detail::allocate<detail::ObjectNode>(arena, 1))
        detail::ObjectNode{{1, Tag::Object, {arena}}, DynamicObject(arena)};
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

void Dynamic::retain() noexcept {
    flag() = 1;
    Node* n = node();
    if (n->arena != nullptr) {
        n->arena->retain();
    } else {
        ++n->refs;
    }
}

void Dynamic::releaseCount(Node* n) noexcept {
    if (n->arena != nullptr) {
        n->arena->release();
        return;
    }
    if (--n->refs == 0) FreeQueue<Node, &Dynamic::nextFreed, &Dynamic::freeHeapNode>::free(n);
}

Dynamic::Node*& Dynamic::nextFreed(Node* n) noexcept { return n->nextFreed; }

// A heap node goes back the way it was made: its own type, its own size.
void Dynamic::freeHeapNode(Node* n) noexcept {
    switch (n->tag) {
        case Tag::LongString: {
            auto* text = static_cast<detail::StringNode*>(n);
            detail::memoryOf(nullptr)->deallocate(text, sizeof(detail::StringNode) + text->size,
                                                  alignof(detail::StringNode));
            break;
        }
        case Tag::Array:
            std::destroy_at(static_cast<detail::ArrayNode*>(n));
            detail::deallocate(nullptr, static_cast<detail::ArrayNode*>(n), 1);
            break;
        default:
            std::destroy_at(static_cast<detail::ObjectNode*>(n));
            detail::deallocate(nullptr, static_cast<detail::ObjectNode*>(n), 1);
            break;
    }
}

Dynamic::Kind Dynamic::kind() const noexcept {
    switch (tag()) {
        case Tag::Null: break;
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

bool Dynamic::asBool() const noexcept { return load<bool>(payload()); }
std::int32_t Dynamic::asInt() const noexcept { return load<std::int32_t>(payload()); }
double Dynamic::asFloat() const noexcept { return load<double>(payload()); }

std::string_view Dynamic::asString() const& noexcept {
    if (tag() == Tag::ShortString) return {reinterpret_cast<const char*>(raw_ + kShortAt), flag()};
    auto* n = static_cast<detail::StringNode*>(node());
    return {n->text(), n->size};
}

DynamicArray& Dynamic::asArray() const& noexcept { return static_cast<detail::ArrayNode*>(node())->items; }
DynamicObject& Dynamic::asObject() const& noexcept { return static_cast<detail::ObjectNode*>(node())->object; }

bool Dynamic::sameNode(const Dynamic& other) const noexcept {
    return hasNode() && other.hasNode() && node() == other.node();
}

}  // namespace runtime
