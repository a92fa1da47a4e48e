#include "lumo/xml/Xml.h"

#include <algorithm>

#include "lumo/xml/Parser.h"
#include "runtime/Thrown.h"

namespace {
[[noreturn]] void badType(const char* expected, int type) {
    throw runtime::ThrownMessage(std::string("Bad node type, ") + expected + std::to_string(type));
}
}  // namespace

Xml::Xml(int nodeType, std::string text) : nodeType_(nodeType), text_(std::move(text)) {}

Xml::~Xml() {
    for (const Ptr& child : children_) child->parent_ = nullptr;
}

Xml::Ptr Xml::parse(std::string_view str) { return lumo::xml::Parser::parse(str); }

Xml::Ptr Xml::createElement(std::string name) { return std::make_shared<Xml>(Element, std::move(name)); }
Xml::Ptr Xml::createPCData(std::string text) { return std::make_shared<Xml>(PCData, std::move(text)); }
Xml::Ptr Xml::createCData(std::string text) { return std::make_shared<Xml>(CData, std::move(text)); }
Xml::Ptr Xml::createComment(std::string text) { return std::make_shared<Xml>(Comment, std::move(text)); }
Xml::Ptr Xml::createDocType(std::string text) { return std::make_shared<Xml>(DocType, std::move(text)); }
Xml::Ptr Xml::createProcessingInstruction(std::string text) {
    return std::make_shared<Xml>(ProcessingInstruction, std::move(text));
}
Xml::Ptr Xml::createDocument() { return std::make_shared<Xml>(Document, std::string()); }

void Xml::requireElement() const {
    if (nodeType_ != Element) badType("expected Element but found ", nodeType_);
}

void Xml::requireContainer() const {
    if (nodeType_ != Element && nodeType_ != Document) badType("expected Element or Document but found ", nodeType_);
}

const std::string& Xml::nodeName() const {
    requireElement();
    return text_;
}

void Xml::setNodeName(std::string name) {
    requireElement();
    text_ = std::move(name);
}

const std::string& Xml::nodeValue() const {
    if (nodeType_ == Element || nodeType_ == Document) badType("unexpected ", nodeType_);
    return text_;
}

void Xml::setNodeValue(std::string value) {
    if (nodeType_ == Element || nodeType_ == Document) badType("unexpected ", nodeType_);
    text_ = std::move(value);
}

std::optional<std::string> Xml::get(std::string_view att) const {
    requireElement();
    for (const auto& [name, value] : attributes_) {
        if (name == att) return value;
    }
    return std::nullopt;
}

void Xml::set(std::string_view att, std::string value) {
    requireElement();
    for (auto& [name, old] : attributes_) {
        if (name == att) {
            old = std::move(value);
            return;
        }
    }
    attributes_.emplace_back(std::string(att), std::move(value));
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
