#pragma once
// Single-pass XML reader, lax (default) or strict, into the Xml tree. Lax mode takes
// HTML-like text: unknown entities, stray "&" and "<" or ">" in attribute values pass as
// text. Failures throw XmlParserException with the position of the failing byte; a
// closing tag at top level throws the Xml node type message. A NUL byte ends the input.
// Elements nested deeper than kMaxDepth fail with "Nesting deeper than 1000 levels".
#include <string_view>

#include "lumo/xml/Xml.h"

namespace lumo::xml {

class Parser {
public:
    static constexpr int kMaxDepth = 1000;

    static Xml::Ptr parse(std::string_view str, bool strict = false);
    // Parses nodes from p into parent; returns where it stopped: the ">" of the parent's
    // closing tag, or the end of input. New nodes go into the arena when one is given.
    static int doParse(std::string_view str, bool strict, int p, const Xml::Ptr& parent, int depth = 0,
                       runtime::Arena* arena = nullptr);
};

}  // namespace lumo::xml
