#include "lumo/xml/Fast.h"

#include "runtime/Thrown.h"

namespace lumo::xml {

namespace {
const Xml::Ptr& checked(const Xml::Ptr& x) {
    if (!x) throw runtime::ThrownMessage("Invalid nodeType null");
    if (x->nodeType() != Xml::Document && x->nodeType() != Xml::Element) {
        throw runtime::ThrownMessage("Invalid nodeType " + std::to_string(x->nodeType()));
    }
    return x;
}
}  // namespace

Fast::Fast(Xml::Ptr node) : x(checked(node)), att(x) {}

namespace detail {

std::string AttribAccess::resolve(std::string_view name) const {
    if (x_->nodeType() == Xml::Document) {
        throw runtime::ThrownMessage("Cannot access document attribute " + std::string(name));
    }
    if (auto value = x_->get(name)) return *value;
    throw runtime::ThrownMessage(std::string(x_->nodeName()) + " is missing attribute " + std::string(name));
}

}  // namespace detail

}  // namespace lumo::xml
