#pragma once
// The dynamic value: null, Bool, Int (32-bit), Float (64-bit), String, array or anonymous
// object. Parsed documents are trees of these, so the value is kept to 16 bytes: scalars
// and strings of up to 14 bytes live inline, longer strings, arrays and objects in a
// reference-counted node. Arrays and objects are shared by reference, as in the garbage-
// collected runtime the system was described for: a copy of the value names the same node.
// Counts are not atomic; values are used on one thread. Objects keep insertion order.
// Nodes are made on the heap, or in an Arena when a parser builds a whole document.
#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Arena.h"

namespace runtime {

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

    Dynamic(const Dynamic& other) noexcept;
    Dynamic(Dynamic&& other) noexcept;
    Dynamic& operator=(const Dynamic& other) noexcept;
    Dynamic& operator=(Dynamic&& other) noexcept;
    ~Dynamic() {
        if (hasNode()) releaseNode();
    }

    Kind kind() const noexcept;
    bool isNull() const noexcept { return tag() == Tag::Null; }

    // Accessors require the matching kind; asArray/asObject give the shared node.
    bool asBool() const noexcept;
    std::int32_t asInt() const noexcept;
    double asFloat() const noexcept;
    std::string_view asString() const noexcept;
    std::pmr::vector<Dynamic>& asArray() const noexcept;
    DynamicObject& asObject() const noexcept;

    // True when both name the same array or object node.
    bool sameNode(const Dynamic& other) const noexcept;

    struct Node;  // reference-counted storage of long strings, arrays and objects
    static constexpr std::size_t kInline = 14;  // longest string kept inside the value

private:
    enum class Tag : std::uint8_t { Null, Bool, Int, Float, ShortString, LongString, Array, Object };

    Tag tag() const noexcept { return static_cast<Tag>(raw_[0]); }
    void setTag(Tag t) noexcept { raw_[0] = static_cast<unsigned char>(t); }
    bool hasNode() const noexcept { return tag() >= Tag::LongString; }
    Node* node() const noexcept;
    void setNode(Tag t, Node* n) noexcept;
    void retain() const noexcept;
    void release() noexcept {
        if (hasNode()) releaseNode();
        setTag(Tag::Null);
    }
    void releaseNode() noexcept;

    // [0] tag, [1] short-string length, [2..15] short-string bytes; [8..15] scalar or node.
    alignas(8) unsigned char raw_[16];
};

using DynamicArray = std::pmr::vector<Dynamic>;

class DynamicObject {
public:
    explicit DynamicObject(std::pmr::memory_resource* memory) : fields_(memory), index_(memory) {}

    struct Field {
        Field(std::string_view n, Dynamic&& v) : name(n), value(std::move(v)) {}
        std::string name;
        Dynamic value;
    };

    // The value of the field, or nullptr when there is none.
    const Dynamic* find(std::string_view name) const;
    // Sets an existing field in place (order unchanged) or appends a new one.
    void set(std::string_view name, Dynamic value);
    void reserve(std::size_t fields) { fields_.reserve(fields); }
    const std::pmr::vector<Field>& fields() const { return fields_; }
    std::size_t size() const { return fields_.size(); }

private:
    // Small objects are searched linearly; larger ones get an open-addressing index of
    // positions + 1 (0 marks an empty slot), so building a wide object stays linear.
    static constexpr std::size_t kIndexFrom = 12;
    std::size_t slotOf(std::string_view name) const;
    void append(std::string_view name, Dynamic&& value);
    void rebuildIndex();

    std::pmr::vector<Field> fields_;
    std::pmr::vector<std::uint32_t> index_;
};

}  // namespace runtime
