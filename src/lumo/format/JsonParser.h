#pragma once
// Recursive-descent JSON reader over 8-bit text, with this system's own acceptance rules:
// exactly one value is read and whatever follows it is never looked at; numbers follow a
// small state machine (no leading zeros, no exponent after an all-zero number); strings
// are taken byte for byte, escapes decoded one \u at a time. Failures throw
// runtime::ThrownMessage: "Invalid char C at position P", "Invalid number at position P:
// TEXT", "Invalid escape sequence \X at position P", "Unclosed string", and, past
// kMaxDepth nested arrays or objects, "Nesting deeper than 1000 levels at position P".
//
// The parser keeps a view of the text: the text must outlive it.
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Dynamic.h"

namespace lumo::format {

class JsonParser {
public:
    static constexpr int kMaxDepth = 1000;

    explicit JsonParser(std::string_view str);

    // Reads one value from pos on; pos is left just after it.
    runtime::Dynamic parseRec();
    // Reads a string whose opening quote has been consumed.
    std::string parseString();
    [[noreturn]] void invalidChar();
    [[noreturn]] void invalidNumber(int start);

    std::string_view str;
    int pos = 0;

private:
    // The byte at pos, or 0 at or past the end; pos moves on either way.
    int nextChar() {
        int at = pos++;
        return at < static_cast<int>(str.size()) ? static_cast<unsigned char>(str[at]) : 0;
    }
    runtime::Dynamic parseObject();
    runtime::Dynamic parseArray();
    runtime::Dynamic parseNumber(int first);
    void parseLiteral(std::string_view rest);
    // The string's bytes: a view of the input when it has no escapes, else scratch_.
    std::string_view readString();
    void appendEscape();

    // The document's nodes live in one arena, made at the first node that needs memory.
    runtime::Arena* arena();
    // A copy of the text in the arena, for a decoded key while its object is read.
    std::string_view keep(std::string_view text);

    int depth_ = 0;
    runtime::Arena::Ref arena_;
    std::string scratch_;
    // Members and items of the open arrays and objects, innermost last: each container is
    // built once at its end with its exact size, instead of growing as it is read.
    std::vector<runtime::Dynamic> values_;
    std::vector<std::string_view> keys_;  // into str, or into the arena when decoded
};

}  // namespace lumo::format
