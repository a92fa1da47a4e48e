#include "lumo/xml/Parser.h"

#include <array>

#include "lumo/ds/StringMap.h"
#include "lumo/xml/XmlParserException.h"
#include "util/Std.h"
#include "util/StringTools.h"

namespace lumo::xml {

namespace {

enum class State {
    SkipSpace, Begin, Text, NodeStart, TagName, Body, AttributeName, Equals, ValueStart,
    AttributeValue, Children, SelfCloseEnd, CloseName, CloseEnd, Header, Comment, DocType,
    CData, Entity,
};

const lumo::ds::StringMap<std::string>& escapes() {
    static const auto table = [] {
        lumo::ds::StringMap<std::string> t;
        t.set("lt", "<");
        t.set("gt", ">");
        t.set("amp", "&");
        t.set("quot", "\"");
        t.set("apos", "'");
        return t;
    }();
    return table;
}

constexpr std::array<bool, 256> kNameChars = [] {
    std::array<bool, 256> table{};
    for (int c = 'a'; c <= 'z'; ++c) table[c] = true;
    for (int c = 'A'; c <= 'Z'; ++c) table[c] = true;
    for (int c = '0'; c <= '9'; ++c) table[c] = true;
    table[':'] = table['.'] = table['_'] = table['-'] = true;
    return table;
}();

bool isNameChar(int c) { return kNameChars[static_cast<unsigned char>(c)]; }

bool isSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

// One call of doParse: the nodes of one level, appended to `parent`.
class Level {
public:
    Level(std::string_view str, bool strict, int p, const Xml::Ptr& parent, int depth, runtime::Arena* arena)
        : str_(str), size_(static_cast<int>(str.size())), strict_(strict), p_(p), parent_(parent), depth_(depth),
          arena_(arena) {}

    int run();

private:
    int at(int i) const { return i < size_ ? static_cast<unsigned char>(str_[i]) : 0; }
    std::string_view slice(int from, int to) const { return str_.substr(from, to - from); }
    [[noreturn]] void fail(std::string message) const {
        throw XmlParserException(std::move(message), std::string(str_), p_);
    }
    Xml::Ptr node(int type, std::string_view text) const { return Xml::create(type, text, arena_); }
    void addChild(const Xml::Ptr& x) {
        parent_->addChild(x);
        ++children_;
    }
    void skipThen(State next) {
        state_ = State::SkipSpace;
        next_ = next;
    }
    enum class Action { Next, Reread, Return };
    // Acts on the byte in the current state: move on, read it again in the new state, or
    // end this level (after the parent's closing tag).
    Action step(int c);
    bool skipRun();
    void markup();
    void resolveEntity(std::string_view s);
    int atEnd();

    std::string_view str_;
    int size_;
    bool strict_;
    int p_;
    const Xml::Ptr& parent_;
    int depth_;
    runtime::Arena* arena_;

    State state_ = State::Begin;
    State next_ = State::Begin;
    State afterEntity_ = State::Begin;
    int start_ = 0;
    int children_ = 0;
    int brackets_ = 0;
    char quote_ = 0;
    std::string buf_;
    std::string attributeName_;
    Xml::Ptr element_;
};

int Level::run() {
    if (depth_ > Parser::kMaxDepth) {
        fail("Nesting deeper than " + std::to_string(Parser::kMaxDepth) + " levels");
    }
    for (int c = at(p_); c != 0; c = at(++p_)) {
        // Long runs of text, names and attribute values need no per-byte state change:
        // skip to the byte that makes one (a NUL among them, which ends the input).
        if (skipRun()) {
            c = at(p_);
            if (c == 0) break;
        }
        Action action;
        while ((action = step(c)) == Action::Reread) {
        }
        if (action == Action::Return) return p_;
        // A nested level that stopped on a NUL stops every level: nothing after it is read.
        if (state_ == State::Begin && at(p_) == 0) break;
    }
    return atEnd();
}

Level::Action Level::step(int c) {
    switch (state_) {
        case State::SkipSpace:
            if (isSpace(c)) return Action::Next;
            state_ = next_;
            return Action::Reread;
        case State::Begin:
            if (c == '<') {
                skipThen(State::NodeStart);
                return Action::Next;
            }
            start_ = p_;
            state_ = State::Text;
            return Action::Reread;
        case State::Text:
            if (c == '<') {
                buf_ += slice(start_, p_);
                addChild(node(Xml::PCData, buf_));
                buf_.clear();
                skipThen(State::NodeStart);
            } else if (c == '&') {
                buf_ += slice(start_, p_);
                afterEntity_ = State::Text;
                start_ = p_ + 1;
                state_ = State::Entity;
            }
            return Action::Next;
        case State::NodeStart:
            if (c == '!') {
                markup();
            } else if (c == '?') {
                start_ = p_;
                state_ = State::Header;
            } else if (c == '/') {
                start_ = p_ + 1;
                skipThen(State::CloseName);
            } else {
                start_ = p_;
                state_ = State::TagName;
                return Action::Reread;
            }
            return Action::Next;
        case State::TagName:
            if (isNameChar(c)) return Action::Next;
            if (p_ == start_) fail("Expected node name");
            element_ = node(Xml::Element, slice(start_, p_));
            addChild(element_);
            skipThen(State::Body);
            return Action::Reread;
        case State::Body:
            if (c == '/') {
                state_ = State::SelfCloseEnd;
            } else if (c == '>') {
                state_ = State::Children;
            } else {
                start_ = p_;
                state_ = State::AttributeName;
                return Action::Reread;
            }
            return Action::Next;
        case State::AttributeName: {
            if (isNameChar(c)) return Action::Next;
            if (p_ == start_) fail("Expected attribute name");
            attributeName_.assign(slice(start_, p_));
            if (element_->exists(attributeName_)) fail("Duplicate attribute [" + attributeName_ + "]");
            skipThen(State::Equals);
            return Action::Reread;
        }
        case State::Equals:
            if (c != '=') fail("Expected =");
            skipThen(State::ValueStart);
            return Action::Next;
        case State::ValueStart:
            if (c != '"' && c != '\'') fail("Expected \"");
            buf_.clear();
            quote_ = static_cast<char>(c);
            start_ = p_ + 1;
            state_ = State::AttributeValue;
            return Action::Next;
        case State::AttributeValue:
            if (c == '&') {
                buf_ += slice(start_, p_);
                afterEntity_ = State::AttributeValue;
                start_ = p_ + 1;
                state_ = State::Entity;
            } else if (c == '<' || c == '>') {
                if (strict_) fail("Invalid unescaped " + std::string(1, static_cast<char>(c)) + " in attribute value");
            } else if (c == quote_) {
                buf_ += slice(start_, p_);
                element_->set(attributeName_, buf_);
                buf_.clear();
                skipThen(State::Body);
            }
            return Action::Next;
        case State::Children:
            p_ = Parser::doParse(str_, strict_, p_, element_, depth_ + 1, arena_);
            start_ = p_;
            state_ = State::Begin;
            return Action::Next;
        case State::SelfCloseEnd:
            if (c != '>') fail("Expected >");
            state_ = State::Begin;
            return Action::Next;
        case State::CloseName: {
            if (isNameChar(c)) return Action::Next;
            if (p_ == start_) fail("Expected node name");
            std::string_view name = slice(start_, p_);
            // Throws the node type message when the parent is the document.
            std::string_view open = parent_->nodeName();
            if (name != open) fail("Expected </" + std::string(open) + ">");
            skipThen(State::CloseEnd);
            return Action::Reread;
        }
        case State::CloseEnd:
            if (c != '>') fail("Expected >");
            if (children_ == 0) addChild(node(Xml::PCData, ""));
            return Action::Return;
        case State::Header:
            if (c == '?' && at(p_ + 1) == '>') {
                ++p_;
                addChild(node(Xml::ProcessingInstruction, slice(start_ + 1, p_ - 1)));
                state_ = State::Begin;
            }
            return Action::Next;
        case State::Comment:
            if (c == '-' && at(p_ + 1) == '-' && at(p_ + 2) == '>') {
                addChild(node(Xml::Comment, slice(start_, p_)));
                p_ += 2;
                state_ = State::Begin;
            }
            return Action::Next;
        case State::DocType:
            if (c == '[') {
                ++brackets_;
            } else if (c == ']') {
                --brackets_;
            } else if (c == '>' && brackets_ == 0) {
                addChild(node(Xml::DocType, slice(start_, p_)));
                state_ = State::Begin;
            }
            return Action::Next;
        case State::CData:
            if (c == ']' && at(p_ + 1) == ']' && at(p_ + 2) == '>') {
                addChild(node(Xml::CData, slice(start_, p_)));
                p_ += 2;
                state_ = State::Begin;
            }
            return Action::Next;
        case State::Entity:
            if (c == ';') {
                resolveEntity(slice(start_, p_));
                start_ = p_ + 1;
                state_ = afterEntity_;
            } else if (!isNameChar(c) && c != '#') {
                if (strict_) fail("Invalid character in entity: " + std::string(1, static_cast<char>(c)));
                buf_ += '&';
                buf_ += slice(start_, p_);
                --p_;  // the byte is handled again in the state we return to
                start_ = p_ + 1;
                state_ = afterEntity_;
            }
            return Action::Next;
    }
    return Action::Next;
}

// Moves p_ over the bytes that leave the current state as it is; true if it did so.
bool Level::skipRun() {
    auto skip = [this](auto stays) {
        while (p_ < size_ && stays(static_cast<unsigned char>(str_[p_]))) ++p_;
        return true;
    };
    switch (state_) {
        case State::Text: return skip([](unsigned char c) { return c != '<' && c != '&' && c != 0; });
        case State::TagName:
        case State::AttributeName:
        case State::CloseName: return skip([](unsigned char c) { return kNameChars[c]; });
        case State::AttributeValue:
            return skip([q = static_cast<unsigned char>(quote_)](unsigned char c) {
                return c != q && c != '&' && c != '<' && c != '>' && c != 0;
            });
        default: return false;
    }
}

// At "!" after "<": CDATA, DOCTYPE or comment.
void Level::markup() {
    if (at(p_ + 1) == '[') {
        p_ += 2;
        if (upper(str_.substr(std::min(p_, size_), 6)) != "CDATA[") fail("Expected <![CDATA[");
        p_ += 5;
        start_ = p_ + 1;
        state_ = State::CData;
    } else if (at(p_ + 1) == 'D' || at(p_ + 1) == 'd') {
        if (upper(str_.substr(std::min(p_ + 2, size_), 6)) != "OCTYPE") fail("Expected <!DOCTYPE");
        p_ += 8;
        start_ = p_ + 1;
        state_ = State::DocType;
    } else if (at(p_ + 1) == '-' && at(p_ + 2) == '-') {
        p_ += 2;
        start_ = p_ + 1;
        state_ = State::Comment;
    } else {
        fail("Expected <!--");
    }
}

void Level::resolveEntity(std::string_view s) {
    if (!s.empty() && s[0] == '#') {
        // "&#x41;" reads as "0x41", "&#65;" as "65".
        std::string number(s.substr(1));
        if (s.size() > 1 && s[1] == 'x') number.insert(0, 1, '0');
        std::int32_t code = Std::parseInt(number).value_or(0);
        if (code < 128) {
            buf_ += static_cast<char>(code & 0xFF);
        } else if (code <= 0x10FFFF) {
            StringTools::appendUtf8(buf_, static_cast<std::uint32_t>(code));
        } else {
            fail("Cannot encode UTF8-char " + std::to_string(code));
        }
    } else if (auto replacement = escapes().get(std::string(s))) {
        buf_ += *replacement;
    } else if (strict_) {
        fail("Undefined entity: " + std::string(s));
    } else {
        buf_ += '&';
        buf_ += s;
        buf_ += ';';
    }
}

// The loop stopped on a 0 byte: the end of input, or a NUL in the text.
int Level::atEnd() {
    if (state_ == State::Begin) {
        start_ = p_;
        state_ = State::Text;
    }
    if (state_ == State::Text) {
        if (p_ != start_ || children_ == 0) {
            buf_ += slice(std::min(start_, size_), std::min(p_, size_));
            addChild(node(Xml::PCData, buf_));
        }
        return p_;
    }
    if (!strict_ && state_ == State::Entity && afterEntity_ == State::Text) {
        buf_ += '&';
        buf_ += slice(std::min(start_, size_), std::min(p_, size_));
        addChild(node(Xml::PCData, buf_));
        return p_;
    }
    fail("Unexpected end");
}

}  // namespace

Xml::Ptr Parser::parse(std::string_view str, bool strict) {
    runtime::Arena::Ref arena = runtime::Arena::create();
    Xml::Ptr document = Xml::create(Xml::Document, {}, arena.get());
    doParse(str, strict, 0, document, 0, arena.get());
    return document;
}

int Parser::doParse(std::string_view str, bool strict, int p, const Xml::Ptr& parent, int depth,
                    runtime::Arena* arena) {
    return Level(str, strict, p, parent, depth, arena).run();
}

}  // namespace lumo::xml
