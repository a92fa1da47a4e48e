// The first byte picks strict or lax mode; the rest is the document. The tree is walked
// so that every node built is also read.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "lumo/xml/Fast.h"
#include "lumo/xml/Parser.h"
#include "runtime/Thrown.h"

namespace {
std::size_t walk(const Xml::Ptr& x) {
    std::size_t n = 1;
    if (x->nodeType() == Xml::Element || x->nodeType() == Xml::Document) {
        for (const auto& child : x->children()) n += walk(child);
    } else {
        n += x->nodeValue().size();
    }
    return n;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    bool strict = (data[0] & 1) != 0;
    std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    try {
        Xml::Ptr doc = lumo::xml::Parser::parse(text, strict);
        walk(doc);
        if (Xml::Ptr first = doc->firstElement()) lumo::xml::Fast(first).att.resolve("src");
    } catch (const runtime::Thrown&) {
    }
    return 0;
}
