#pragma once
// The fields of an object node (Dynamic::asObject), in insertion order.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "runtime/Dynamic.h"

namespace runtime {

class DynamicObject {
public:
    explicit DynamicObject(Arena* arena) noexcept : arena_(arena) {}
    ~DynamicObject();
    DynamicObject(const DynamicObject&) = delete;
    DynamicObject& operator=(const DynamicObject&) = delete;

    // A field's name: up to 15 bytes inside, longer ones in the object's memory (its
    // document's, in an arena), so most names cost no allocation and a field 32 bytes. The
    // view lasts as long as the field.
    class Name {
    public:
        Name(std::string_view text, Arena* arena);
        operator std::string_view() const noexcept {
            if (isInside()) return {reinterpret_cast<const char*>(raw_), raw_[kCountAt]};
            return outside();
        }
        friend bool operator==(const Name& name, std::string_view text) noexcept {
            return std::string_view(name) == text;
        }
        // Frees an outside copy made on the heap.
        void free(Arena* arena) noexcept;

    private:
        // raw_: [0..14] the bytes and [15] their count; or [0..7] a pointer to them,
        // [8..11] their count and kOutside in [15].
        static constexpr std::size_t kCountAt = 15;
        static constexpr std::size_t kOutsideSizeAt = 8;
        static constexpr unsigned char kOutside = 0xFF;
        bool isInside() const noexcept { return raw_[kCountAt] != kOutside; }
        std::string_view outside() const noexcept;
        alignas(8) unsigned char raw_[16];
    };
    struct Field {
        Name name;
        Dynamic value;
    };
    // The most fields an object holds: its index, four slots a field, counts in 32 bits.
    static constexpr std::size_t kMaxFields = std::size_t{1} << 29;

    // The value of the field, or nullptr when there is none.
    const Dynamic* find(std::string_view name) const;
    // Sets an existing field in place (order unchanged) or appends a new one. Stores first
    // and lets go of the replaced value, and of the argument's count, last: either may be
    // what keeps this object alive. The name may view this object's own fields.
    void set(std::string_view name, Dynamic value);
    // Throws std::length_error past kMaxFields, leaving the object as it was.
    void reserve(std::size_t fields);
    std::span<const Field> fields() const noexcept { return {fields_, size_}; }
    std::size_t size() const noexcept { return size_; }

private:
    // Small objects are searched linearly; larger ones get an open-addressing index of
    // positions + 1 (0 marks an empty slot), so building a wide object stays linear.
    static constexpr std::size_t kIndexFrom = 12;
    std::size_t slotOf(std::string_view name) const;
    // Whether text starts within this object's field storage.
    bool viewsFields(std::string_view text) const noexcept;
    // set() with a copy of the name, out of its way.
    void setCopyOf(std::string_view name, Dynamic value);
    // An index with room for `fields` fields, holding the present ones.
    void rebuildIndex(std::size_t fields);

    Arena* arena_;  // null on the heap
    Field* fields_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::uint32_t* index_ = nullptr;
    std::uint32_t indexSize_ = 0;
};

}  // namespace runtime
