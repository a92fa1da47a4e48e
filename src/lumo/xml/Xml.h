#pragma once
// The XML node tree. Type checks throw runtime::ThrownMessage with the node type's number,
// e.g. "Bad node type, expected Element but found 3".
//
// Memory: a document owns its nodes, names, texts and lists (lumo::xml::detail::Store) and
// frees them all at once, without visiting its nodes, which are trivially destructible.
// The count is one per document: an Xml::Ptr is made only when a node is handed out, and
// it shares its document's count, so a node a caller keeps keeps its whole document (and
// its parent, when that lies in the same document). A node moved into another document's list keeps
// its own document alive while it is there; when the document of its parent goes first,
// it is left without a parent. Edits reuse a text's or a list's storage while the new
// content fits and double it otherwise, so a document grows with its edits, boundedly,
// until it goes. One document, one thread.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumo::xml {
class Parser;
}

namespace lumo::xml::detail {

class Store;

// Bytes a document owns; an edit overwrites them in place while the new content fits.
struct Text {
    char* data = nullptr;
    std::uint32_t size = 0;
    std::uint32_t capacity = 0;
    std::string_view view() const { return {data, size}; }
};

struct Attribute {
    Text name;
    Text value;
};

}  // namespace lumo::xml::detail

class Xml {
public:
    using Ptr = std::shared_ptr<Xml>;
    class Children;

    static constexpr int Element = 0;
    static constexpr int PCData = 1;
    static constexpr int CData = 2;
    static constexpr int Comment = 3;
    static constexpr int DocType = 4;
    static constexpr int ProcessingInstruction = 5;
    static constexpr int Document = 6;

    // The document that the parser builds from str in lax mode.
    static Ptr parse(std::string_view str);

    // Each made node is a document of its own until it is added to another node.
    static Ptr createElement(std::string_view name);
    static Ptr createPCData(std::string_view text);
    static Ptr createCData(std::string_view text);
    static Ptr createComment(std::string_view text);
    static Ptr createDocType(std::string_view text);
    static Ptr createProcessingInstruction(std::string_view text);
    static Ptr createDocument();

    int nodeType() const { return nodeType_; }
    // A view of a name or value may outlive neither its node's document nor the next set.
    // Elements only.
    std::string_view nodeName() const;
    void setNodeName(std::string_view name);
    // Text nodes only (not Elements or Documents).
    std::string_view nodeValue() const;
    void setNodeValue(std::string_view value);

    // Null for a node in no parent's list.
    Xml* parent() const { return parent_; }
    // The child list as it stands now; empty for a text node.
    Children children() const;

    // Attributes, Elements only; values are stored decoded.
    std::optional<std::string> get(std::string_view att) const;
    void set(std::string_view att, std::string_view value);
    bool exists(std::string_view att) const;

    // Elements and Documents only. firstElement is null when there is no Element child;
    // addChild first takes x out of the list of a parent it already has, and throws on a
    // null x, and on x being this node or one of its ancestors.
    Ptr firstElement() const;
    void addChild(const Ptr& x);
    bool removeChild(const Ptr& x);

    Xml(const Xml&) = delete;
    Xml& operator=(const Xml&) = delete;

private:
    friend class lumo::xml::Parser;
    friend class lumo::xml::detail::Store;
    using Text = lumo::xml::detail::Text;
    using Attribute = lumo::xml::detail::Attribute;

    struct Container;

    Xml(int nodeType, lumo::xml::detail::Store* store, Xml* parent, Text text)
        : store_(store), parent_(parent), text_(text), nodeType_(static_cast<std::uint8_t>(nodeType)) {}
    static bool isContainer(int nodeType) { return nodeType == Element || nodeType == Document; }
    // This node's lists; null for a text node.
    const Container* container() const;
    Container* container() { return const_cast<Container*>(std::as_const(*this).container()); }
    static Ptr make(int nodeType, std::string_view text);
    Ptr share() const;
    void requireElement() const;
    void requireContainer() const;
    Attribute* find(std::string_view att) const;
    // Takes child out of this node's list; false when it is not there.
    bool take(Xml* child);

    lumo::xml::detail::Store* store_;  // the document this node's memory belongs to
    Xml* parent_;
    Text text_;  // nodeName of an Element, nodeValue of a text node
    std::uint8_t nodeType_;
};

// An Element or a Document: a node with lists. Text nodes, most of a document's, are made
// without them.
struct Xml::Container final : Xml {
    Container(int nodeType, lumo::xml::detail::Store* store, Xml* parent, Text text)
        : Xml(nodeType, store, parent, text) {}

    Xml** children = nullptr;
    std::uint32_t childCount = 0;
    std::uint32_t childCapacity = 0;
    // Insertion-ordered; elements carry few attributes, so a flat list beats a hash table.
    Attribute* attributes = nullptr;
    std::uint32_t attributeCount = 0;
    std::uint32_t attributeCapacity = 0;
};

inline const Xml::Container* Xml::container() const {
    return isContainer(nodeType_) ? static_cast<const Container*>(this) : nullptr;
}

// A node's child list as it stood when children() was called: a loop over it visits each
// of those children once, whatever is added or removed meanwhile, and each stays readable
// while the view lives (it keeps the node's document, and the documents of children taken
// from others). So the view may outlive the Ptr it came from.
class Xml::Children {
public:
    class iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Ptr;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = Ptr;

        iterator() = default;
        explicit iterator(Xml* const* at) : at_(at) {}
        Ptr operator*() const { return (*at_)->share(); }
        iterator& operator++() {
            ++at_;
            return *this;
        }
        iterator operator++(int) { return iterator(at_++); }
        bool operator==(const iterator&) const = default;

    private:
        Xml* const* at_ = nullptr;
    };

    explicit Children(Ptr node);
    iterator begin() const { return iterator(items_.data()); }
    iterator end() const { return iterator(items_.data() + items_.size()); }
    std::size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    // i < size().
    Ptr operator[](std::size_t i) const { return items_[i]->share(); }

private:
    std::vector<Xml*> items_;
    Ptr node_;
    std::vector<std::shared_ptr<lumo::xml::detail::Store>> adopted_;
};
