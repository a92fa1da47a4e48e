#pragma once
// The dynamic value: null, Bool, Int (32-bit), Float (64-bit), String, array or anonymous
// object. Parsed documents are trees of these, so the value is kept to 16 bytes: scalars
// and strings of up to 14 bytes live inline, longer strings, arrays and objects in a node.
// Arrays and objects are shared by reference, as in the garbage-collected runtime the
// system was described for: a copy of the value names the same node. Objects keep
// insertion order. Counts are not atomic; values are used on one thread.
//
// Ownership. A node on the heap counts its own references. A node in an Arena (a parsed
// document) has no count of its own: every value outside the document that names one of
// its nodes counts on the whole arena, and the values inside the document's containers
// count on nothing, as the document holds them. So a value kept from a document keeps the
// document, and the last one to go frees the document's blocks without visiting a node.
// What a document's container is given from outside (a heap node, another document's
// node) is handed to the arena, which gives it back when it goes. Containers therefore
// change only through their own functions (push_back, set, ...), never through a slot.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
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

    // Accessors require the matching kind; asArray/asObject give the shared node.
    bool asBool() const noexcept;
    std::int32_t asInt() const noexcept;
    double asFloat() const noexcept;
    std::string_view asString() const noexcept;
    DynamicArray& asArray() const noexcept;
    DynamicObject& asObject() const noexcept;

    // True when both name the same array or object node.
    bool sameNode(const Dynamic& other) const noexcept;

    struct Node;  // storage of long strings, arrays and objects
    static constexpr std::size_t kInline = 14;  // longest string kept inside the value

private:
    friend class DynamicArray;
    friend class DynamicObject;
    enum class Tag : std::uint8_t { Null, Bool, Int, Float, ShortString, LongString, Array, Object };

    Tag tag() const noexcept { return static_cast<Tag>(raw_[0]); }
    void setTag(Tag t) noexcept { raw_[0] = static_cast<unsigned char>(t); }
    bool hasNode() const noexcept { return tag() >= Tag::LongString; }
    // [1] of a node value: whether it holds a count (values inside a document do not).
    bool counts() const noexcept { return hasNode() && raw_[1] != 0; }
    Node* node() const noexcept;
    void setNode(Tag t, Node* n) noexcept;
    void retain() noexcept;
    void release() noexcept {
        if (counts()) releaseNode();
        setTag(Tag::Null);
    }
    void releaseNode() noexcept { releaseCount(node()); }
    // Gives back one count on a node: its arena's, or its own.
    static void releaseCount(Node* n) noexcept;
    static void releaseHandedOver(void* n) { releaseCount(static_cast<Node*>(n)); }
    // Makes this counted value one that a container of the arena's document holds.
    void settleIn(Arena* arena);
    // Moves the bytes of `from`, counted or not, into the slot `to` (raw memory or a value
    // that holds nothing); `from` is left null.
    static void relocate(Dynamic* to, Dynamic& from) noexcept;

    // [0] tag, [1] short-string length or count flag, [2..15] short-string bytes;
    // [8..15] scalar or node.
    alignas(8) unsigned char raw_[16];
};

// Items of an array node. Grows by half at least; in a document, its buffers stay in the
// arena until the document goes.
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

    void push_back(Dynamic value);
    // Replaces the items with the values, which are moved from.
    void assign(std::span<Dynamic> values);

private:
    void clear() noexcept;
    void reserve(std::size_t capacity);

    Arena* arena_;  // null on the heap
    Dynamic* items_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

class DynamicObject {
public:
    explicit DynamicObject(Arena* arena) noexcept : arena_(arena) {}
    ~DynamicObject();
    DynamicObject(const DynamicObject&) = delete;
    DynamicObject& operator=(const DynamicObject&) = delete;

    // A field's name: up to 15 bytes inside, longer ones in the object's memory (its
    // document's, in an arena), so most names cost no allocation and a field 32 bytes.
    class Name {
    public:
        Name(std::string_view text, Arena* arena);
        operator std::string_view() const noexcept {
            if (raw_[15] != kOutside) return {reinterpret_cast<const char*>(raw_), raw_[15]};
            return outside();
        }
        friend bool operator==(const Name& name, std::string_view text) noexcept {
            return std::string_view(name) == text;
        }
        // Frees an outside copy made on the heap.
        void free(Arena* arena) noexcept;

    private:
        static constexpr unsigned char kOutside = 0xFF;
        std::string_view outside() const noexcept;
        // [0..14] the bytes and [15] their count; or [0..7] a pointer, [8..11] the count
        // and kOutside in [15].
        alignas(8) unsigned char raw_[16];
    };
    struct Field {
        Name name;
        Dynamic value;
    };

    // The value of the field, or nullptr when there is none.
    const Dynamic* find(std::string_view name) const;
    // Sets an existing field in place (order unchanged) or appends a new one.
    void set(std::string_view name, Dynamic value);
    void reserve(std::size_t fields);
    std::span<const Field> fields() const noexcept { return {fields_, size_}; }
    std::size_t size() const noexcept { return size_; }

private:
    // Small objects are searched linearly; larger ones get an open-addressing index of
    // positions + 1 (0 marks an empty slot), so building a wide object stays linear.
    static constexpr std::size_t kIndexFrom = 12;
    std::size_t slotOf(std::string_view name) const;
    void rebuildIndex();

    Arena* arena_;  // null on the heap
    Field* fields_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::uint32_t* index_ = nullptr;
    std::uint32_t indexSize_ = 0;
};

}  // namespace runtime
