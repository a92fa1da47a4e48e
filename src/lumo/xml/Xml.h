#pragma once
// The XML node tree. Nodes are shared (a child is owned by its parent's list, a caller
// may hold any node); a node knows its parent without owning it, and a parent that goes
// away first clears that link in its children. Type checks throw
// runtime::ThrownMessage with the node type's number, e.g. "Bad node type, expected
// Element but found 3".
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

    static Ptr createElement(std::string name);
    static Ptr createPCData(std::string text);
    static Ptr createCData(std::string text);
    static Ptr createComment(std::string text);
    static Ptr createDocType(std::string text);
    static Ptr createProcessingInstruction(std::string text);
    static Ptr createDocument();

    int nodeType() const { return nodeType_; }
    // Elements only.
    const std::string& nodeName() const;
    void setNodeName(std::string name);
    // Text nodes only (not Elements or Documents).
    const std::string& nodeValue() const;
    void setNodeValue(std::string value);

    // Null for a node in no parent's list.
    Xml* parent() const { return parent_; }
    const std::vector<Ptr>& children() const { return children_; }

    // Attributes, Elements only; values are stored decoded.
    std::optional<std::string> get(std::string_view att) const;
    void set(std::string_view att, std::string value);
    bool exists(std::string_view att) const;

    // Elements and Documents only. firstElement is null when there is no Element child;
    // addChild first takes x out of the list of a parent it already has.
    Ptr firstElement() const;
    void addChild(const Ptr& x);
    bool removeChild(const Ptr& x);

    // Use the create functions; public only for make_shared.
    Xml(int nodeType, std::string text);
    ~Xml();
    Xml(const Xml&) = delete;
    Xml& operator=(const Xml&) = delete;

private:
    void requireElement() const;
    void requireContainer() const;

    int nodeType_;
    std::string text_;  // nodeName of an Element, nodeValue of a text node
    Xml* parent_ = nullptr;
    std::vector<Ptr> children_;
    // Insertion-ordered; elements carry few attributes, so a flat list beats a hash table.
    std::vector<std::pair<std::string, std::string>> attributes_;
};
