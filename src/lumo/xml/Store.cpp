#include "lumo/xml/Store.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>

#include "runtime/FreeQueue.h"
#include "runtime/Thrown.h"

namespace lumo::xml::detail {

namespace {

// Half an arena block: two pieces fill one, so the arena's blocks are reused.
constexpr std::size_t kPiece = runtime::Arena::kBlock / 2;

[[noreturn]] void tooLong(std::size_t n) {
    throw runtime::ThrownMessage("Xml text or list too long: " + std::to_string(n));
}

std::uint32_t checkedSize(std::size_t n) {
    if (n > std::numeric_limits<std::uint32_t>::max()) tooLong(n);
    return static_cast<std::uint32_t>(n);
}

// A store whose first piece of memory lies within it.
template <std::size_t Bytes>
class StoreWithin final : public Store {
public:
    explicit StoreWithin(std::size_t firstBlock) : Store(firstBlock) { start(piece_); }

private:
    alignas(8) std::array<std::byte, Bytes> piece_;
};

}  // namespace

// A document of a short text (the channel's embed fragment) fits in the first piece, and
// the store in one of the allocator's small, quickly reused sizes (up to about 1 KB).
std::shared_ptr<Store> Store::forDocument() {
    return std::make_shared<StoreWithin<768>>(runtime::Arena::kBlock);
}

// A made node and a short text fit in the first piece.
std::shared_ptr<Store> Store::forNode() { return std::make_shared<StoreWithin<128>>(256); }

Store::Store(std::size_t firstBlock) : firstBlock_(firstBlock), nextPiece_(std::min(firstBlock, kPiece)) {
    // Nodes are never destroyed, only the memory they lie in freed.
    static_assert(std::is_trivially_destructible_v<Xml::Container> && alignof(Xml::Container) <= 8);
}

Store::~Store() {
    if (!adopted_) return;
    for (auto& [child, store] : adopted_->stores) child->parent_ = nullptr;
    runtime::FreeQueue<Adopted, &Adopted::next, &Adopted::destroy>::free(adopted_.release());
}

void* Store::refill(std::size_t bytes) {
    if (arena_.get() == nullptr) arena_ = runtime::Arena::create(firstBlock_);
    runtime::Arena& arena = *arena_.get();
    // Large pieces (a document's copy, long lists) leave the current piece in use.
    if (bytes > kPiece / 4) return arena.allocate(bytes, 8);
    std::size_t piece = std::max(nextPiece_, bytes);
    nextPiece_ = std::min(nextPiece_ * 2, kPiece);
    cursor_ = static_cast<std::byte*>(arena.allocate(piece, 8));
    void* at = cursor_;
    cursor_ += bytes;
    left_ = piece - bytes;
    return at;
}

char* Store::copyPadded(std::string_view text, std::size_t padding) {
    char* at = static_cast<char*>(allocate(text.size() + padding));
    std::fill(std::copy(text.begin(), text.end(), at), at + text.size() + padding, '\0');
    return at;
}

Text Store::copy(std::string_view bytes) {
    Text text;
    assign(text, bytes);
    return text;
}

void Store::assign(Text& text, std::string_view bytes) {
    std::uint32_t size = checkedSize(bytes.size());
    if (size > text.capacity) {
        std::uint32_t capacity = std::max(size, checkedSize(std::size_t{text.capacity} * 2));
        char* fresh = static_cast<char*>(allocate(capacity));
        // bytes may lie in the old storage, which stays until the store goes.
        std::copy(bytes.begin(), bytes.end(), fresh);
        text.data = fresh;
        text.capacity = capacity;
    } else if (size > 0) {
        std::memmove(text.data, bytes.data(), size);  // bytes may be part of this text
    }
    text.size = size;
}

template <typename T>
void Store::reserve(T*& items, std::uint32_t count, std::uint32_t& capacity, std::size_t more) {
    if (count + more <= capacity) return;
    std::uint32_t next = std::max(checkedSize(count + more), checkedSize(std::size_t{capacity} * 2));
    T* fresh = static_cast<T*>(allocate(next * sizeof(T)));
    std::copy_n(items, count, fresh);
    items = fresh;
    capacity = next;
}

void Store::setAttributes(Xml* element, std::span<const Attribute> attributes) {
    Xml::Container& lists = *element->container();
    reserve(lists.attributes, lists.attributeCount, lists.attributeCapacity, attributes.size());
    std::copy(attributes.begin(), attributes.end(), lists.attributes + lists.attributeCount);
    lists.attributeCount += static_cast<std::uint32_t>(attributes.size());
}

void Store::addAttribute(Xml* element, std::string_view name, std::string_view value) {
    Attribute attribute{copy(name), copy(value)};
    setAttributes(element, {&attribute, 1});
}

void Store::appendChild(Xml* parent, Xml* child) {
    Xml::Container& lists = *parent->container();
    reserve(lists.children, lists.childCount, lists.childCapacity, 1);
    if (child->store_ != this) {
        if (!adopted_) adopted_ = std::make_unique<Adopted>();
        adopted_->stores.emplace(child, child->store_->shared_from_this());
    }
    child->parent_ = parent;
    lists.children[lists.childCount++] = child;
}

void Store::appendNew(Xml* parent, std::span<Xml* const> children) {
    Xml::Container& lists = *parent->container();
    reserve(lists.children, lists.childCount, lists.childCapacity, children.size());
    std::copy(children.begin(), children.end(), lists.children + lists.childCount);
    lists.childCount += static_cast<std::uint32_t>(children.size());
}

void Store::release(Xml* child) { adopted_->stores.erase(child); }

}  // namespace lumo::xml::detail
