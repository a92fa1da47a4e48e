#include "lumo/xml/Xml.h"

#include <algorithm>

#include "lumo/xml/Parser.h"
#include "runtime/Thrown.h"

namespace {
[[noreturn]] void badType(const char* expected, int type) {
    throw runtime::ThrownMessage(std::string("Bad node type, ") + expected + std::to_string(type));
}
}  // namespace

namespace {

// Allocates in an arena and keeps it alive: the copy held by each node's control block
// counts on the arena until the node is gone.
template <typename T>
struct ArenaAllocator {
    using value_type = T;
    explicit ArenaAllocator(runtime::Arena::Ref arena) : arena(std::move(arena)) {}
    template <typename U>
    ArenaAllocator(const ArenaAllocator<U>& other) : arena(other.arena) {}
    T* allocate(std::size_t n) { return static_cast<T*>(arena.get()->allocate(n * sizeof(T), alignof(T))); }
    void deallocate(T*, std::size_t) {}
    template <typename U>
    bool operator==(const ArenaAllocator<U>& other) const {
        return arena.get() == other.arena.get();
    }
    runtime::Arena::Ref arena;
};

}  // namespace

Xml::Xml(int nodeType, std::string_view text, std::pmr::memory_resource* memory)
    : nodeType_(nodeType), text_(text, memory), children_(memory), attributes_(memory) {}

Xml::Ptr Xml::create(int nodeType, std::string_view text, runtime::Arena* arena) {
    if (arena == nullptr) return std::make_shared<Xml>(nodeType, text, std::pmr::get_default_resource());
    return std::allocate_shared<Xml>(ArenaAllocator<Xml>(arena->share()), nodeType, text, arena);
}

Xml::~Xml() {
    for (const Ptr& child : children_) child->parent_ = nullptr;
}

Xml::Ptr Xml::parse(std::string_view str) { return lumo::xml::Parser::parse(str); }

Xml::Ptr Xml::createElement(std::string_view name) { return create(Element, name, nullptr); }
Xml::Ptr Xml::createPCData(std::string_view text) { return create(PCData, text, nullptr); }
Xml::Ptr Xml::createCData(std::string_view text) { return create(CData, text, nullptr); }
Xml::Ptr Xml::createComment(std::string_view text) { return create(Comment, text, nullptr); }
Xml::Ptr Xml::createDocType(std::string_view text) { return create(DocType, text, nullptr); }
Xml::Ptr Xml::createProcessingInstruction(std::string_view text) { return create(ProcessingInstruction, text, nullptr); }
Xml::Ptr Xml::createDocument() { return create(Document, {}, nullptr); }

void Xml::requireElement() const {
    if (nodeType_ != Element) badType("expected Element but found ", nodeType_);
}

void Xml::requireContainer() const {
    if (nodeType_ != Element && nodeType_ != Document) badType("expected Element or Document but found ", nodeType_);
}

std::string_view Xml::nodeName() const {
    requireElement();
    return text_;
}

void Xml::setNodeName(std::string_view name) {
    requireElement();
    text_ = name;
}

std::string_view Xml::nodeValue() const {
    if (nodeType_ == Element || nodeType_ == Document) badType("unexpected ", nodeType_);
    return text_;
}

void Xml::setNodeValue(std::string_view value) {
    if (nodeType_ == Element || nodeType_ == Document) badType("unexpected ", nodeType_);
    text_ = value;
}

std::optional<std::string> Xml::get(std::string_view att) const {
    requireElement();
    for (const auto& [name, value] : attributes_) {
        if (name == att) return std::string(value);
    }
    return std::nullopt;
}

void Xml::set(std::string_view att, std::string_view value) {
    requireElement();
    for (auto& [name, old] : attributes_) {
        if (name == att) {
            old = value;
            return;
        }
    }
    attributes_.emplace_back(att, value);
}

bool Xml::exists(std::string_view att) const { return get(att).has_value(); }

Xml::Ptr Xml::firstElement() const {
    requireContainer();
    for (const Ptr& child : children_) {
        if (child->nodeType_ == Element) return child;
    }
    return nullptr;
}

void Xml::addChild(const Ptr& x) {
    requireContainer();
    if (x->parent_ != nullptr) x->parent_->removeChild(x);
    children_.push_back(x);
    x->parent_ = this;
}

bool Xml::removeChild(const Ptr& x) {
    requireContainer();
    auto it = std::find(children_.begin(), children_.end(), x);
    if (it == children_.end()) return false;
    x->parent_ = nullptr;
    children_.erase(it);
    return true;
}
