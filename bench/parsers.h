#pragma once
// Our parsers and the installed peers behind one shape, so that the throughput and the
// memory programs measure the same calls. Each parser has a row name prefix, the format it
// reads, the tree type it builds (default-constructible, so that many can be kept in one
// array), and parse(tree, input), false on a parse error. prepare() turns the text into
// the parser's input once, outside what is measured.
#include <string>

#include "documents.h"
#include "lumo/format/JsonParser.h"
#include "lumo/xml/Parser.h"

#ifdef HAVE_RAPIDJSON
#include <rapidjson/document.h>
#endif
#ifdef HAVE_NLOHMANN
#include <nlohmann/json.hpp>
#endif
#ifdef HAVE_SIMDJSON
#include <simdjson.h>
#endif
#ifdef HAVE_PUGIXML
#include <pugixml.hpp>
#endif
#ifdef HAVE_TINYXML2
#include <tinyxml2.h>
#endif

namespace bench {

struct ReadsText {
    static const std::string& prepare(const std::string& text) { return text; }
};

struct JsonOurs : ReadsText {
    static constexpr const char* name = "Json_Ours";
    static constexpr Format format = Format::Json;
    using Tree = runtime::Dynamic;
    static bool parse(Tree& tree, const std::string& text) {
        tree = lumo::format::JsonParser(text).parseRec();
        return true;  // errors throw
    }
};

#ifdef HAVE_RAPIDJSON
struct JsonRapidJsonDom : ReadsText {
    static constexpr const char* name = "Json_RapidJsonDom";
    static constexpr Format format = Format::Json;
    using Tree = rapidjson::Document;
    static bool parse(Tree& tree, const std::string& text) {
        return !tree.Parse(text.c_str(), text.size()).HasParseError();
    }
};
#endif

#ifdef HAVE_NLOHMANN
struct JsonNlohmann : ReadsText {
    static constexpr const char* name = "Json_Nlohmann";
    static constexpr Format format = Format::Json;
    using Tree = nlohmann::json;
    static bool parse(Tree& tree, const std::string& text) {
        tree = nlohmann::json::parse(text);
        return true;  // errors throw
    }
};
#endif

#ifdef HAVE_SIMDJSON
// One parser for the whole process, reused as the library intends; each tree is a
// document of its own, so that many can be kept.
struct JsonSimdjsonDom {
    static constexpr const char* name = "Json_SimdjsonDom";
    static constexpr Format format = Format::Json;
    using Tree = simdjson::dom::document;
    static simdjson::padded_string prepare(const std::string& text) {
        return simdjson::padded_string(text);
    }
    static bool parse(Tree& tree, const simdjson::padded_string& text) {
        static simdjson::dom::parser parser;
        return parser.parse_into_document(tree, text).error() == simdjson::SUCCESS;
    }
};
#endif

struct XmlOurs : ReadsText {
    static constexpr const char* name = "Xml_Ours";
    static constexpr Format format = Format::Xml;
    using Tree = Xml::Ptr;
    static bool parse(Tree& tree, const std::string& text) {
        tree = lumo::xml::Parser::parse(text);
        return true;  // errors throw
    }
};

#ifdef HAVE_PUGIXML
struct XmlPugixml : ReadsText {
    static constexpr const char* name = "Xml_Pugixml";
    static constexpr Format format = Format::Xml;
    using Tree = pugi::xml_document;
    static bool parse(Tree& tree, const std::string& text) {
        return static_cast<bool>(tree.load_buffer(text.data(), text.size()));
    }
};
#endif

#ifdef HAVE_TINYXML2
struct XmlTinyxml2 : ReadsText {
    static constexpr const char* name = "Xml_Tinyxml2";
    static constexpr Format format = Format::Xml;
    using Tree = tinyxml2::XMLDocument;
    static bool parse(Tree& tree, const std::string& text) {
        return tree.Parse(text.data(), text.size()) == tinyxml2::XML_SUCCESS;
    }
};
#endif

// Calls f.operator()<P>(document) for every installed parser P and every document of its
// format: the rows, ours first.
template <typename F>
void forEachRow(F&& f) {
    auto rows = [&f]<typename P>() {
        for (const Document& document : documents()) {
            if (document.format == P::format) f.template operator()<P>(document);
        }
    };
    rows.template operator()<JsonOurs>();
#ifdef HAVE_RAPIDJSON
    rows.template operator()<JsonRapidJsonDom>();
#endif
#ifdef HAVE_NLOHMANN
    rows.template operator()<JsonNlohmann>();
#endif
#ifdef HAVE_SIMDJSON
    rows.template operator()<JsonSimdjsonDom>();
#endif
    rows.template operator()<XmlOurs>();
#ifdef HAVE_PUGIXML
    rows.template operator()<XmlPugixml>();
#endif
#ifdef HAVE_TINYXML2
    rows.template operator()<XmlTinyxml2>();
#endif
}

// The row's name: parser, slash, document.
template <typename P>
std::string rowName(const Document& document) {
    return std::string(P::name) + "/" + document.name;
}

}  // namespace bench
