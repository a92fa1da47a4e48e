#pragma once
// The memory of one XML document: its nodes, texts and lists, bump-allocated and never
// freed one by one; first from a piece within the store itself, so that a small document
// costs one allocation, then from pieces of a runtime::Arena made when that is full. A
// shared_ptr to the store is the document's one count; every Xml::Ptr into the document
// aliases it.
//
// A node of another store placed in one of this store's lists keeps its own store alive
// while it is there; if this store goes first, the node is left without a parent. Two
// stores that each hold a node of the other keep each other alive: such a cycle leaks.
#include <cstddef>
#include <memory>
#include <new>
#include <span>
#include <string_view>
#include <unordered_map>

#include "lumo/xml/Xml.h"
#include "runtime/Arena.h"

namespace lumo::xml::detail {

class Store : public std::enable_shared_from_this<Store> {
public:
    // A store for a parsed document; a small one for a single made node.
    static std::shared_ptr<Store> forDocument();
    static std::shared_ptr<Store> forNode();

    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    Xml* node(int type, Xml* parent, Text text) {
        if (Xml::isContainer(type)) return ::new (allocate(sizeof(Xml::Container))) Xml::Container(type, this, parent, text);
        return ::new (allocate(sizeof(Xml))) Xml(type, this, parent, text);
    }
    // The bytes of text, followed by padding zero bytes, so that a reader may look up to
    // padding bytes past the end without a bound check.
    char* copyPadded(std::string_view text, std::size_t padding);
    Text copy(std::string_view bytes);
    // In place while bytes fit, else into fresh storage of at least twice the capacity.
    void assign(Text& text, std::string_view bytes);

    void setAttributes(Xml* element, std::span<const Attribute> attributes);
    void addAttribute(Xml* element, std::string_view name, std::string_view value);
    // Appends child, of any store, to parent's list.
    void appendChild(Xml* parent, Xml* child);
    // Appends nodes just made in this store with parent as their parent.
    void appendNew(Xml* parent, std::span<Xml* const> children);
    // Child of another store, taken out of the list of one of this store's nodes.
    void release(Xml* child);

protected:
    // The arena's blocks start at firstBlock bytes.
    explicit Store(std::size_t firstBlock);
    ~Store();
    void start(std::span<std::byte> firstPiece) {
        cursor_ = firstPiece.data();
        left_ = firstPiece.size();
    }

private:
    // At least bytes, 8-aligned, for as long as the store lives.
    void* allocate(std::size_t bytes) {
        bytes = (bytes + 7) & ~std::size_t{7};
        if (bytes > left_) return refill(bytes);
        void* at = cursor_;
        cursor_ += bytes;
        left_ -= bytes;
        return at;
    }
    void* refill(std::size_t bytes);
    template <typename T>
    void reserve(T*& items, std::uint32_t count, std::uint32_t& capacity, std::size_t more);

    runtime::Arena::Ref arena_;  // none until the first piece is full
    std::size_t firstBlock_;
    std::size_t nextPiece_;
    std::byte* cursor_ = nullptr;
    std::size_t left_ = 0;
    // Children of other stores in this store's lists, each with a count on its store;
    // made at the first. When the store goes, its counts go in the loop of the outermost
    // store going (runtime::FreeQueue), so that a chain of stores, each holding a node of
    // the one before, goes without a stack frame per store.
    struct Adopted {
        std::unordered_map<Xml*, std::shared_ptr<Store>> stores;
        Adopted* nextFreed = nullptr;
        static Adopted*& next(Adopted* adopted) noexcept { return adopted->nextFreed; }
        static void destroy(Adopted* adopted) noexcept { std::unique_ptr<Adopted> owner(adopted); }
    };
    std::unique_ptr<Adopted> adopted_;
};

}  // namespace lumo::xml::detail
