#pragma once
// The XML node tree. Nodes are shared (a child is owned by its parent's list, a caller
// may hold any node); a node knows its parent without owning it, and a parent that goes
// away first clears that link in its children. The parser places a document's nodes in
// one runtime::Arena, which lives as long as any of them. Type checks throw
// runtime::ThrownMessage with the node type's number, e.g. "Bad node type, expected
// Element but found 3".
#include <memory>
#include <memory_resource>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/Arena.h"

class Xml {
public:
    using Ptr = std::shared_ptr<Xml>;

    static constexpr int Element = 0;
    static constexpr int PCData = 1;
    static constexpr int CData = 2;
    static constexpr int Comment = 3;
    static constexpr int DocType = 4;
    static constexpr int ProcessingInstruction = 5;
    static constexpr int Document = 6;

    // The document that the parser builds from str in lax mode.
    static Ptr parse(std::string_view str);

    static Ptr createElement(std::string_view name);
    static Ptr createPCData(std::string_view text);
    static Ptr createCData(std::string_view text);
    static Ptr createComment(std::string_view text);
    static Ptr createDocType(std::string_view text);
    static Ptr createProcessingInstruction(std::string_view text);
    static Ptr createDocument();
    // A node of any type, on the heap or in an arena.
    static Ptr create(int nodeType, std::string_view text, runtime::Arena* arena);

    int nodeType() const { return nodeType_; }
    // Elements only.
    std::string_view nodeName() const;
    void setNodeName(std::string_view name);
    // Text nodes only (not Elements or Documents).
    std::string_view nodeValue() const;
    void setNodeValue(std::string_view value);

    // Null for a node in no parent's list.
    Xml* parent() const { return parent_; }
    const std::pmr::vector<Ptr>& children() const { return children_; }

    // Attributes, Elements only; values are stored decoded.
    std::optional<std::string> get(std::string_view att) const;
    void set(std::string_view att, std::string_view value);
    bool exists(std::string_view att) const;

    // Elements and Documents only. firstElement is null when there is no Element child;
    // addChild first takes x out of the list of a parent it already has.
    Ptr firstElement() const;
    void addChild(const Ptr& x);
    bool removeChild(const Ptr& x);

    // Use the create functions; public only for allocate_shared.
    Xml(int nodeType, std::string_view text, std::pmr::memory_resource* memory);
    ~Xml();
    Xml(const Xml&) = delete;
    Xml& operator=(const Xml&) = delete;

private:
    void requireElement() const;
    void requireContainer() const;

    int nodeType_;
    std::pmr::string text_;  // nodeName of an Element, nodeValue of a text node
    Xml* parent_ = nullptr;
    std::pmr::vector<Ptr> children_;
    // Insertion-ordered; elements carry few attributes, so a flat list beats a hash table.
    std::pmr::vector<std::pair<std::pmr::string, std::pmr::string>> attributes_;
};
