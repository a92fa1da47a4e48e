#pragma once
// The dynamic value: null, Bool, Int (32-bit), Float (64-bit), String, array or anonymous
// object. Parsed documents are trees of these, so the value is kept to 16 bytes: scalars
// and strings of up to 14 bytes live inline, longer strings, arrays and objects in a node.
// Arrays and objects are shared by reference: a copy of the value names the same node, and
// a change through one copy is seen through all. Objects keep insertion order. Counts are
// not atomic; values are used on one thread.
//
// Ownership. A node on the heap counts its own references. A node in an Arena (a parsed
// document) has no count of its own: every value outside the document that names one of
// its nodes counts on the whole arena, and the values inside the document's containers
// count on nothing, as the document holds them. So a value kept from a document keeps the
// document, and the last one to go frees the document's blocks without visiting a node.
// What a document's container is given from outside (a heap node, another document's
// node) is handed to the arena, which gives it back when it goes. Containers therefore
// change only through their own functions (push_back, set, ...), never through a slot.
// A cycle of counted references (a heap object holding itself, two documents holding each
// other's nodes) is never freed.
//
// A view (asString, asArray, asObject, a field's name) lasts as long as the value it was
// read from and that value's document: never take one from a temporary.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "runtime/Arena.h"

namespace runtime {

class DynamicArray;
class DynamicObject;

class Dynamic {
public:
    enum class Kind : std::uint8_t { Null, Bool, Int, Float, String, Array, Object };

    Dynamic() noexcept { setTag(Tag::Null); }
    Dynamic(std::nullptr_t) noexcept : Dynamic() {}
    Dynamic(bool b) noexcept;
    Dynamic(std::int32_t i) noexcept;
    Dynamic(double f) noexcept;
    Dynamic(std::string_view s, Arena* arena = nullptr);
    Dynamic(const char* s) : Dynamic(std::string_view(s)) {}
    Dynamic(const std::string& s) : Dynamic(std::string_view(s)) {}
    static Dynamic array(Arena* arena = nullptr);
    static Dynamic object(Arena* arena = nullptr);

    // A copy always counts, also of a value held inside a document; so does a move out of one.
    Dynamic(const Dynamic& other) noexcept;
    Dynamic(Dynamic&& other) noexcept;
    Dynamic& operator=(const Dynamic& other) noexcept;
    Dynamic& operator=(Dynamic&& other) noexcept;
    ~Dynamic() {
        if (counts()) releaseNode();
    }

    Kind kind() const noexcept;
    bool isNull() const noexcept { return tag() == Tag::Null; }

    // Accessors require the matching kind; asArray/asObject give the shared node. The
    // views are refused on a temporary, which may be the last thing keeping them.
    bool asBool() const noexcept;
    std::int32_t asInt() const noexcept;
    double asFloat() const noexcept;
    std::string_view asString() const& noexcept;
    std::string_view asString() const&& = delete;
    DynamicArray& asArray() const& noexcept;
    DynamicArray& asArray() const&& = delete;
    DynamicObject& asObject() const& noexcept;
    DynamicObject& asObject() const&& = delete;

    // True when both name the same array or object node.
    bool sameNode(const Dynamic& other) const noexcept;

    struct Node;  // storage of long strings, arrays and objects
    static constexpr std::size_t kInline = 14;  // longest string kept inside the value

private:
    friend class DynamicArray;
    friend class DynamicObject;
    enum class Tag : std::uint8_t { Null, Bool, Int, Float, ShortString, LongString, Array, Object };

    // raw_: [0] the tag; [1] a short string's length, or whether a node value holds a
    // count (values inside a document do not); [2..15] a short string's bytes; [8..15] a
    // scalar or the node.
    static constexpr std::size_t kTagAt = 0;
    static constexpr std::size_t kFlagAt = 1;
    static constexpr std::size_t kShortAt = 2;
    static constexpr std::size_t kPayloadAt = 8;
    Tag tag() const noexcept { return static_cast<Tag>(raw_[kTagAt]); }
    void setTag(Tag t) noexcept { raw_[kTagAt] = static_cast<unsigned char>(t); }
    unsigned char& flag() noexcept { return raw_[kFlagAt]; }
    unsigned char flag() const noexcept { return raw_[kFlagAt]; }
    unsigned char* payload() noexcept { return raw_ + kPayloadAt; }
    const unsigned char* payload() const noexcept { return raw_ + kPayloadAt; }

    bool hasNode() const noexcept { return tag() >= Tag::LongString; }
    bool counts() const noexcept { return hasNode() && flag() != 0; }
    Node* node() const noexcept {
        Node* n;
        std::memcpy(&n, payload(), sizeof n);
        return n;
    }
    void setNode(Tag t, Node* n) noexcept;
    void retain() noexcept;
    void release() noexcept {
        if (counts()) releaseNode();
        setTag(Tag::Null);
    }
    void releaseNode() noexcept { releaseCount(node()); }
    // Gives back one count on a node: its arena's, or its own. A heap node freed while
    // another is being freed waits for the first one's loop (FreeQueue), so that freeing
    // never recurses on nesting depth.
    static void releaseCount(Node* n) noexcept;
    static Node*& nextFreed(Node* n) noexcept;
    static void freeHeapNode(Node* n) noexcept;
    static void releaseHandedOver(void* n) { releaseCount(static_cast<Node*>(n)); }
    // Makes this counted value one that a container of the arena's document holds. True
    // when its count was on that arena itself: the caller gives that count back once the
    // value is stored, since it may be the last one keeping the container.
    [[nodiscard]] bool settleIn(Arena* arena);
    // Moves the bytes of `from`, counted or not, into the slot `to` (raw memory or a value
    // that holds nothing); `from` is left null.
    static void relocate(Dynamic* to, Dynamic& from) noexcept;

    alignas(8) unsigned char raw_[16];
};

}  // namespace runtime

#include "runtime/DynamicArray.h"
#include "runtime/DynamicObject.h"
