#include "lumo/xml/Parser.h"

#include <array>
#include <bit>
#include <cstdint>
#include <climits>
#include <cstring>
#include <memory_resource>
#include <set>
#include <vector>

#include "lumo/xml/Store.h"
#include "lumo/xml/XmlParserException.h"
#include "runtime/Thrown.h"
#include "util/Std.h"
#include "util/StringTools.h"

namespace lumo::xml {

namespace {

using detail::Attribute;
using detail::Store;
using detail::Text;

// Zero bytes after the copy of the text, read as the end of input. No read goes further
// past the end (an eight-byte read starts at the end at the latest), so none needs a
// bound check.
constexpr std::size_t kPadding = 8;

using ByteSet = std::array<bool, 256>;

constexpr ByteSet bytes(std::string_view members) {
    ByteSet set{};
    for (char c : members) set[static_cast<unsigned char>(c)] = true;
    return set;
}

constexpr ByteSet kNameChars = [] {
    ByteSet set = bytes(":._-");
    for (int c = 'a'; c <= 'z'; ++c) set[c] = true;
    for (int c = 'A'; c <= 'Z'; ++c) set[c] = true;
    for (int c = '0'; c <= '9'; ++c) set[c] = true;
    return set;
}();
constexpr ByteSet kSpaces = bytes(" \t\n\r");
// The bytes that end an attribute value in strict mode, by quote.
constexpr ByteSet kStrictValueStops[2] = {bytes(std::string_view("'&<>\0", 5)), bytes(std::string_view("\"&<>\0", 5))};

// The offset of the first byte of the eight at `at` that is a, b or 0; 8 when there is none.
int firstOf(const char* at, unsigned char a, unsigned char b) {
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHighs = 0x8080808080808080;
    std::uint64_t v;
    std::memcpy(&v, at, sizeof v);
    // Flags the zero bytes; a borrow may flag bytes after the first zero, never before it.
    auto zeros = [](std::uint64_t x) { return (x - kOnes) & ~x & kHighs; };
    std::uint64_t found = zeros(v) | zeros(v ^ (kOnes * a)) | zeros(v ^ (kOnes * b));
    return found == 0 ? 8 : std::countr_zero(found) / 8;
}

// The replacement of a named entity, or 0.
char namedEntity(std::string_view name) {
    if (name == "lt") return '<';
    if (name == "gt") return '>';
    if (name == "amp") return '&';
    if (name == "quot") return '"';
    if (name == "apos") return '\'';
    return 0;
}

// The nodes of one parse, read into a document's store.
class Reader {
public:
    Reader(std::string_view xml, bool strict, Store& store)
        : xml_(xml), s_(store.copyPadded(xml, kPadding)), strict_(strict), store_(store) {
        children_.reserve(64);
        attributes_.reserve(16);
    }

    // Parses one level: the nodes from p up to the parent's closing tag, or to the end.
    int level(int p, Xml* parent, int depth);

private:
    unsigned char at(int i) const { return static_cast<unsigned char>(s_[i]); }
    std::string_view view(int from, int to) const { return {s_ + from, static_cast<std::size_t>(to - from)}; }
    Text text(int from, int to) const {
        auto size = static_cast<std::uint32_t>(to - from);
        return {s_ + from, size, size};
    }
    [[noreturn]] void fail(std::string message, int p) const {
        throw XmlParserException(std::move(message), std::string(xml_), p);
    }
    [[noreturn]] void unexpectedEnd(int p) const { fail("Unexpected end", p); }
    int skip(const ByteSet& set, int p) const {
        while (set[at(p)]) ++p;
        return p;
    }
    int skipTo(const ByteSet& stops, int p) const {
        while (!stops[at(p)]) ++p;
        return p;
    }
    // To the first a, b or 0 from p, eight bytes at a time where the byte order allows.
    int skipTo(unsigned char a, unsigned char b, int p) const {
        if constexpr (std::endian::native == std::endian::little) {
            for (;; p += 8) {
                if (int n = firstOf(s_ + p, a, b); n < 8) return p + n;
            }
        } else {
            while (at(p) != a && at(p) != b && at(p) != 0) ++p;
            return p;
        }
    }
    void add(int type, Xml* parent, Text text) { children_.push_back(store_.node(type, parent, text)); }
    int finish(int p, Xml* parent, std::size_t first);

    int pcdata(int p, Xml* parent, std::size_t first);
    int element(int p, Xml* parent, int depth);
    int attribute(int p);
    bool seenBefore(std::string_view name);
    int closingTag(int p, Xml* parent, std::size_t first);
    int markup(int p, Xml* parent);
    int instruction(int p, Xml* parent);
    int decoded(int from, int quote, int& w) const;
    // Moves the bytes from..to, kept as they are, to w; until the first entity they are there.
    void keep(int from, int to, int& w) const {
        if (w != from) std::memmove(s_ + w, s_ + from, static_cast<std::size_t>(to - from));
        w += to - from;
    }
    int entity(int amp, int& w, int& run, bool inText) const;
    int resolve(int from, int to, int w) const;

    std::string_view xml_;
    char* s_;  // the document's copy of xml_, decoded in place as it is read
    bool strict_;
    Store& store_;
    std::array<std::byte, 2048> scratch_;
    std::pmr::monotonic_buffer_resource memory_{scratch_.data(), scratch_.size()};
    // The children of every open level, each level's above those of its parent.
    std::pmr::vector<Xml*> children_{&memory_};
    // The attributes of the start tag being read, and past the first few their names.
    std::pmr::vector<Attribute> attributes_{&memory_};
    std::set<std::string_view> names_;
};

int Reader::level(int p, Xml* parent, int depth) {
    if (depth > Parser::kMaxDepth) fail("Nesting deeper than " + std::to_string(Parser::kMaxDepth) + " levels", p);
    const std::size_t first = children_.size();
    for (;;) {
        if (at(p) != '<') {
            p = pcdata(p, parent, first);
            if (at(p) == 0) return finish(p, parent, first);
        }
        p = skip(kSpaces, p + 1);
        switch (at(p)) {
            case 0: unexpectedEnd(p);
            case '!': p = markup(p, parent); break;
            case '?': p = instruction(p, parent); break;
            case '/': return finish(closingTag(p, parent, first), parent, first);
            default:
                p = element(p, parent, depth);
                // A level that stopped on a NUL stops every level: nothing after it is read.
                if (at(p) == 0) return finish(p, parent, first);
        }
        ++p;
    }
}

// The level's children become the parent's list.
int Reader::finish(int p, Xml* parent, std::size_t first) {
    store_.appendNew(parent, std::span(children_).subspan(first));
    children_.resize(first);
    return p;
}

// Text from p up to "<" or the end of input; returns where it stopped.
int Reader::pcdata(int p, Xml* parent, std::size_t first) {
    int w = p;
    int end = decoded(p, -1, w);
    // At the end of input an empty text is kept only as a level's one child; any other is
    // kept, also one that ends in an entity.
    if (at(end) == '<' || w > p || children_.size() == first) add(Xml::PCData, parent, text(p, w));
    return end;
}

// Decodes the text or, for a quote, the attribute value from `from` in place; its decoded
// bytes end at w. Returns the position of the byte that ended it.
int Reader::decoded(int from, int quote, int& w) const {
    int run = from;  // the bytes from here on are moved to w as they are
    int p = from;
    for (;;) {
        if (quote < 0) {
            p = skipTo('<', '&', p);
        } else {
            p = strict_ ? skipTo(kStrictValueStops[quote == '"'], p) : skipTo(static_cast<unsigned char>(quote), '&', p);
        }
        const unsigned char c = at(p);
        if (quote < 0 ? c != '&' : c == quote) break;
        if (c == 0) unexpectedEnd(p);
        if (c != '&') fail(std::string("Invalid unescaped ") + static_cast<char>(c) + " in attribute value", p);
        keep(run, p, w);
        p = entity(p, w, run, quote < 0);
    }
    keep(run, p, w);
    return p;
}

// At "&": resolves the entity to w, or leaves it as it is (lax mode). Returns where
// reading goes on; run is where the bytes to keep as they are begin.
int Reader::entity(int amp, int& w, int& run, bool inText) const {
    int p = amp + 1;
    while (kNameChars[at(p)] || at(p) == '#') ++p;
    const unsigned char c = at(p);
    if (c == ';') {
        w += resolve(amp + 1, p, w);
        run = p + 1;
        return p + 1;
    }
    if (c == 0 && (strict_ || !inText)) unexpectedEnd(p);
    if (c != 0 && strict_) fail(std::string("Invalid character in entity: ") + static_cast<char>(c), p);
    // "&" and the name stay as they are; the byte at p is read again.
    run = amp;
    return p;
}

// Writes the replacement of the entity named from..to to w; returns its length. It never
// overtakes the entity's own bytes: a code point needs at least as many digits as its
// UTF-8 form has bytes, and every named or kept entity is at least as long as its output.
int Reader::resolve(int from, int to, int w) const {
    std::string_view name = view(from, to);
    std::string out;
    if (!name.empty() && name[0] == '#') {
        // "&#x41;" reads as "0x41", "&#65;" as "65".
        std::string number(name.substr(1));
        if (name.size() > 1 && name[1] == 'x') number.insert(0, 1, '0');
        std::int32_t code = Std::parseInt(number).value_or(0);
        if (code < 128) {
            out += static_cast<char>(code & 0xFF);
        } else if (code <= 0x10FFFF) {
            StringTools::appendUtf8(out, static_cast<std::uint32_t>(code));
        } else {
            fail("Cannot encode UTF8-char " + std::to_string(code), to);
        }
    } else if (char replacement = namedEntity(name)) {
        s_[w] = replacement;
        return 1;
    } else if (strict_) {
        fail("Undefined entity: " + std::string(name), to);
    } else {
        out = view(from - 1, to + 1);
    }
    std::memmove(s_ + w, out.data(), out.size());
    return static_cast<int>(out.size());
}

// At the first byte of a start tag's name: the element, its attributes and its content.
// Returns the position of the tag's last ">" (the closing tag's, after content), or of the
// 0 byte where the content ended.
int Reader::element(int p, Xml* parent, int depth) {
    const int start = p;
    p = skip(kNameChars, p);
    if (at(p) == 0) unexpectedEnd(p);
    if (p == start) fail("Expected node name", p);
    Xml* element = store_.node(Xml::Element, parent, text(start, p));
    children_.push_back(element);
    attributes_.clear();
    if (!names_.empty()) names_.clear();
    for (;;) {
        p = skip(kSpaces, p);
        switch (at(p)) {
            case 0: unexpectedEnd(p);
            case '/':
                store_.setAttributes(element, attributes_);
                if (at(p + 1) == 0) unexpectedEnd(p + 1);
                if (at(p + 1) != '>') fail("Expected >", p + 1);
                return p + 1;
            case '>':
                store_.setAttributes(element, attributes_);
                if (at(p + 1) == 0) unexpectedEnd(p + 1);
                return level(p + 1, element, depth + 1);
            default: p = attribute(p);
        }
    }
}

// Whether the start tag being read has an attribute of this name already. Past a few
// attributes their names go into names_, so that a tag of many costs n log n comparisons
// rather than n squared; an ordered set, as the names come from outside and could be
// chosen to fall into one bucket of a hash table.
bool Reader::seenBefore(std::string_view name) {
    constexpr std::size_t kScanned = 16;
    if (attributes_.size() < kScanned) {
        for (const Attribute& a : attributes_) {
            if (a.name.view() == name) return true;
        }
        return false;
    }
    if (names_.empty()) {
        for (const Attribute& a : attributes_) names_.insert(a.name.view());
    }
    return !names_.insert(name).second;
}

// At the first byte of an attribute's name; returns the position after its value.
int Reader::attribute(int p) {
    const int start = p;
    p = skip(kNameChars, p);
    if (at(p) == 0) unexpectedEnd(p);
    if (p == start) fail("Expected attribute name", p);
    const Text name = text(start, p);
    if (seenBefore(name.view())) fail("Duplicate attribute [" + std::string(name.view()) + "]", p);
    p = skip(kSpaces, p);
    if (at(p) == 0) unexpectedEnd(p);
    if (at(p) != '=') fail("Expected =", p);
    p = skip(kSpaces, p + 1);
    const unsigned char quote = at(p);
    if (quote == 0) unexpectedEnd(p);
    if (quote != '"' && quote != '\'') fail("Expected \"", p);
    int w = p + 1;
    int end = decoded(p + 1, quote, w);
    attributes_.push_back({name, text(p + 1, w)});
    return end + 1;
}

// At "/" after "<": the parent's closing tag; returns the position of its ">".
int Reader::closingTag(int p, Xml* parent, std::size_t first) {
    const int start = p + 1;  // white space before the name belongs to it
    p = skip(kNameChars, skip(kSpaces, start));
    if (at(p) == 0) unexpectedEnd(p);
    if (p == start) fail("Expected node name", p);
    // Throws the node type message when the parent is the document.
    std::string_view open = parent->nodeName();
    if (view(start, p) != open) fail("Expected </" + std::string(open) + ">", p);
    p = skip(kSpaces, p);
    if (at(p) == 0) unexpectedEnd(p);
    if (at(p) != '>') fail("Expected >", p);
    if (children_.size() == first) add(Xml::PCData, parent, {});
    return p;
}

// At "!" after "<": CDATA, DOCTYPE or comment; returns the position of its last ">".
int Reader::markup(int p, Xml* parent) {
    // The keyword after "<!" or "<![", upper-cased, is the given one.
    auto keyword = [this](int from, std::string_view word) {
        for (std::size_t i = 0; i < word.size(); ++i) {
            unsigned char c = at(from + static_cast<int>(i));
            if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
            if (c != static_cast<unsigned char>(word[i])) return false;
        }
        return true;
    };
    // Where the three-byte mark that ends a CDATA section or a comment starts.
    auto closing = [this](int from, std::string_view mark) {
        for (int q = from;; ++q) {
            if (at(q) == 0) unexpectedEnd(q);
            if (at(q) == mark[0] && at(q + 1) == mark[1] && at(q + 2) == mark[2]) return q;
        }
    };
    if (at(p + 1) == '[') {
        if (!keyword(p + 2, "CDATA[")) fail("Expected <![CDATA[", p + 2);
        const int start = p + 8;
        p = closing(start, "]]>");
        add(Xml::CData, parent, text(start, p));
        return p + 2;
    }
    if (at(p + 1) == 'D' || at(p + 1) == 'd') {
        if (!keyword(p + 2, "OCTYPE")) fail("Expected <!DOCTYPE", p);
        // The byte after the keyword (the usual space) is passed over unread.
        const int start = p + 9;
        int brackets = 0;
        for (p = start;; ++p) {
            const unsigned char c = at(p);
            if (c == 0) unexpectedEnd(p);
            if (c == '[') {
                ++brackets;
            } else if (c == ']') {
                --brackets;
            } else if (c == '>' && brackets == 0) {
                break;
            }
        }
        add(Xml::DocType, parent, text(start, p));
        return p;
    }
    if (at(p + 1) == '-' && at(p + 2) == '-') {
        const int start = p + 3;
        p = closing(start, "-->");
        add(Xml::Comment, parent, text(start, p));
        return p + 2;
    }
    fail("Expected <!--", p);
}

// At "?" after "<": a processing instruction up to "?>"; returns the position of its ">".
int Reader::instruction(int p, Xml* parent) {
    const int start = p + 1;
    for (p = start;; ++p) {
        if (at(p) == 0) unexpectedEnd(p);
        if (at(p) == '?' && at(p + 1) == '>') break;
    }
    add(Xml::ProcessingInstruction, parent, text(start, p));
    return p + 1;
}

// Positions are Int, and the reader looks up to kPadding bytes past the end.
void checkSize(std::string_view str) {
    if (str.size() > static_cast<std::size_t>(INT_MAX) - 2 * kPadding) {
        throw runtime::ThrownMessage("Xml text too long: " + std::to_string(str.size()) + " bytes");
    }
}

}  // namespace

Xml::Ptr Parser::parse(std::string_view str, bool strict) {
    checkSize(str);
    std::shared_ptr<Store> store = Store::forDocument();
    Xml* document = store->node(Xml::Document, nullptr, {});
    Reader(str, strict, *store).level(0, document, 0);
    return Xml::Ptr(std::move(store), document);
}

int Parser::doParse(std::string_view str, bool strict, int p, const Xml::Ptr& parent) {
    checkSize(str);
    if (!parent) throw runtime::ThrownMessage("Cannot parse into a null node");
    parent->requireContainer();
    if (p < 0 || static_cast<std::size_t>(p) > str.size()) {
        throw runtime::ThrownMessage("Position " + std::to_string(p) + " outside the text");
    }
    return Reader(str, strict, *parent->store_).level(p, parent.get(), 0);
}

}  // namespace lumo::xml
