#include "lumo/xml/Xml.h"

#include <algorithm>

#include "lumo/xml/Parser.h"
#include "lumo/xml/Store.h"
#include "runtime/Thrown.h"

using lumo::xml::detail::Store;

namespace {
[[noreturn]] void badType(const char* expected, int type) {
    throw runtime::ThrownMessage(std::string("Bad node type, ") + expected + std::to_string(type));
}

// Whether node is from or one of its ancestors.
bool onChainUp(const Xml* from, const Xml* node) {
    for (; from != nullptr; from = from->parent()) {
        if (from == node) return true;
    }
    return false;
}
}  // namespace

Xml::Ptr Xml::make(int nodeType, std::string_view text) {
    std::shared_ptr<Store> store = Store::forNode();
    Xml* node = store->node(nodeType, nullptr, store->copy(text));
    return Ptr(std::move(store), node);
}

Xml::Ptr Xml::share() const { return Ptr(store_->shared_from_this(), const_cast<Xml*>(this)); }

Xml::Ptr Xml::parse(std::string_view str) { return lumo::xml::Parser::parse(str); }

Xml::Ptr Xml::createElement(std::string_view name) { return make(Element, name); }
Xml::Ptr Xml::createPCData(std::string_view text) { return make(PCData, text); }
Xml::Ptr Xml::createCData(std::string_view text) { return make(CData, text); }
Xml::Ptr Xml::createComment(std::string_view text) { return make(Comment, text); }
Xml::Ptr Xml::createDocType(std::string_view text) { return make(DocType, text); }
Xml::Ptr Xml::createProcessingInstruction(std::string_view text) { return make(ProcessingInstruction, text); }
Xml::Ptr Xml::createDocument() { return make(Document, {}); }

void Xml::requireElement() const {
    if (nodeType_ != Element) badType("expected Element but found ", nodeType_);
}

void Xml::requireContainer() const {
    if (!isContainer(nodeType_)) badType("expected Element or Document but found ", nodeType_);
}

std::string_view Xml::nodeName() const {
    requireElement();
    return text_.view();
}

void Xml::setNodeName(std::string_view name) {
    requireElement();
    store_->assign(text_, name);
}

std::string_view Xml::nodeValue() const {
    if (isContainer(nodeType_)) badType("unexpected ", nodeType_);
    return text_.view();
}

void Xml::setNodeValue(std::string_view value) {
    if (isContainer(nodeType_)) badType("unexpected ", nodeType_);
    store_->assign(text_, value);
}

Xml::Children Xml::children() const { return Children(share()); }

Xml::Children::Children(Ptr node) : node_(std::move(node)) {
    const Container* lists = node_->container();
    if (lists == nullptr) return;
    items_.assign(lists->children, lists->children + lists->childCount);
    for (Xml* child : items_) {
        if (child->store_ != node_->store_) adopted_.push_back(child->store_->shared_from_this());
    }
}

Xml::Attribute* Xml::find(std::string_view att) const {
    requireElement();
    const Container& lists = *container();
    Attribute* end = lists.attributes + lists.attributeCount;
    Attribute* found = std::find_if(lists.attributes, end, [att](const Attribute& a) { return a.name.view() == att; });
    return found == end ? nullptr : found;
}

std::optional<std::string> Xml::get(std::string_view att) const {
    if (const Attribute* a = find(att)) return std::string(a->value.view());
    return std::nullopt;
}

void Xml::set(std::string_view att, std::string_view value) {
    if (Attribute* a = find(att)) {
        store_->assign(a->value, value);
    } else {
        store_->addAttribute(this, att, value);
    }
}

bool Xml::exists(std::string_view att) const { return find(att) != nullptr; }

Xml::Ptr Xml::firstElement() const {
    requireContainer();
    const Container& lists = *container();
    Xml** end = lists.children + lists.childCount;
    Xml** found = std::find_if(lists.children, end, [](const Xml* child) { return child->nodeType_ == Element; });
    return found == end ? nullptr : (*found)->share();
}

void Xml::addChild(const Ptr& x) {
    requireContainer();
    if (!x) throw runtime::ThrownMessage("Cannot add a null child");
    Xml* child = x.get();
    // Under itself, a node's parent chain would loop and its documents keep each other.
    // Only a node with children can be an ancestor, so adding a new leaf walks nothing.
    const Container* lists = child->container();
    if (child == this || (lists != nullptr && lists->childCount > 0 && onChainUp(parent_, child))) {
        throw runtime::ThrownMessage("Cannot add a node to itself or to one of its descendants");
    }
    if (child->parent_ != nullptr) child->parent_->take(child);
    store_->appendChild(this, child);
}

bool Xml::removeChild(const Ptr& x) {
    requireContainer();
    return take(x.get());
}

bool Xml::take(Xml* child) {
    Container& lists = *container();
    Xml** end = lists.children + lists.childCount;
    Xml** at = std::find(lists.children, end, child);
    if (at == end) return false;
    std::copy(at + 1, end, at);
    --lists.childCount;
    child->parent_ = nullptr;
    // The caller holds child, so its store outlives the count dropped here.
    if (child->store_ != store_) store_->release(child);
    return true;
}
