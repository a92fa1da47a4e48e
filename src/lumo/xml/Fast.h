#pragma once
// Reads attributes of an element by name, with a readable message when one is missing.
#include <string>
#include <string_view>

#include "lumo/xml/Xml.h"

namespace lumo::xml {

namespace detail {

class AttribAccess {
public:
    explicit AttribAccess(Xml::Ptr x) : x_(std::move(x)) {}
    // The attribute's value. Throws "Cannot access document attribute NAME" on a
    // Document and "ELEMENT is missing attribute NAME" when it is absent.
    std::string resolve(std::string_view name) const;

private:
    Xml::Ptr x_;
};

}  // namespace detail

class Fast {
public:
    // Over a Document or an Element; anything else throws "Invalid nodeType N", and a
    // null node throws too.
    explicit Fast(Xml::Ptr x);

    Xml::Ptr x;
    detail::AttribAccess att;
};

}  // namespace lumo::xml
