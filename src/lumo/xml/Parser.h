#pragma once
// Single-pass XML reader, lax (default) or strict, into the Xml tree. Lax mode takes
// HTML-like text: unknown entities, stray "&" and "<" or ">" in attribute values pass as
// text. Failures throw XmlParserException with the position of the failing byte; a
// closing tag at top level throws the Xml node type message. A NUL byte ends the input.
// Elements nested deeper than kMaxDepth fail with "Nesting deeper than 1000 levels".
//
// The document keeps one copy of the text: names and texts are views into it, entities
// decoded in place (a decoded entity is never longer than its source), so a parse makes
// no string of its own. The children of the open elements wait on one stack, and each
// element's list is made once, at its exact size, when the element ends.
#include <string_view>

#include "lumo/xml/Xml.h"

namespace lumo::xml {

class Parser {
public:
    static constexpr int kMaxDepth = 1000;

    static Xml::Ptr parse(std::string_view str, bool strict = false);
    // Parses nodes from p (0 to the text's size) into parent, an Element or a Document,
    // whose document keeps the copy of str; returns where it stopped: the ">" of the
    // parent's closing tag, or the end of input.
    static int doParse(std::string_view str, bool strict, int p, const Xml::Ptr& parent);
};

}  // namespace lumo::xml
