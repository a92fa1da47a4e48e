#include "lumo/xml/Parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "lumo/xml/XmlParserException.h"

using lumo::xml::Parser;
using lumo::xml::XmlParserException;

namespace {

// The failure as "message @ position", or the plain text of a non-parser failure.
std::string failure(std::string_view text, bool strict = false) {
    try {
        Parser::parse(text, strict);
    } catch (const XmlParserException& e) {
        return e.message + " @ " + std::to_string(e.position);
    } catch (const runtime::Thrown& e) {
        return e.toString();
    }
    return "parsed";
}

std::string tagged(const char* prefix, std::string_view text) {
    std::string out(prefix);
    out += text;
    return out;
}

// A compact picture of a tree: elements as name[attr=value]{children}, text nodes by kind.
std::string shape(const Xml::Ptr& x) {
    switch (x->nodeType()) {
        case Xml::Element: {
            std::string out(x->nodeName());
            for (const char* a : {"a", "b", "t", "x", "y"}) {
                if (auto v = x->get(a)) out += std::string("[") + a + "=" + *v + "]";
            }
            out += "{";
            for (const auto& c : x->children()) out += shape(c) + ";";
            return out + "}";
        }
        case Xml::Document: {
            std::string out;
            for (const auto& c : x->children()) out += shape(c) + ";";
            return out;
        }
        case Xml::PCData: return tagged("'", x->nodeValue()) + "'";
        case Xml::CData: return tagged("cdata:", x->nodeValue());
        case Xml::Comment: return tagged("comment:", x->nodeValue());
        case Xml::DocType: return tagged("doctype:", x->nodeValue());
        default: return tagged("pi:", x->nodeValue());
    }
}

std::string parsed(std::string_view text, bool strict = false) { return shape(Parser::parse(text, strict)); }

// n attributes, then the first again.
std::string manyAttributesThenTheFirst(int n) {
    std::string tag = "<a";
    for (int i = 0; i < n; ++i) tag += " a" + std::to_string(i) + "=''";
    return tag + " a0=''/>";
}

// Thread CPU seconds a failure of text takes: the best of three rounds, each repeating it for
// 50 ms at least, so that neither the clock's tick nor other work on the machine decides.
double cpuSecondsOfFailure(const std::string& text) {
    auto now = [t = timespec{}]() mutable {
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return t.tv_sec + t.tv_nsec / 1e9;
    };
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        const double start = now();
        int times = 0;
        for (; now() - start < 0.05; ++times) failure(text);
        best = std::min(best, (now() - start) / times);
    }
    return best;
}

}  // namespace

TEST(XmlParser, TreesOfWellFormedAndLaxInput) {
    struct Case {
        std::string input;
        std::string tree;
    };
    const Case cases[] = {
        {"", "'';"},
        {"<a></a>", "a{'';};"},
        {"<a/>", "a{};"},
        {"<a>x", "a{'x';};"},
        {"text<b/>", "'text';b{};"},
        {"<a x='1'y=\"2\"/>", "a[x=1][y=2]{};"},
        {"< a  x = '1' />", "a[x=1]{};"},
        {"<p>AT&amp;T &copy; a & b</p>", "p{'AT&T &copy; a & b';};"},
        {"<a t='&#x20AC;&#65;&#X41;&lt;&#x1F600;'/>", std::string("a[t=\xE2\x82\xAC" "A\0<\xF0\x9F\x98\x80", 14) + "]{};"},
        {"<a t='&#127;&#x7f;'>&#127;&#128;</a>", "a[t=\x7F\x7F]{'\x7F\xC2\x80';};"},
        {"<a t='x<y>z&q'/>", "a[t=x<y>z&q]{};"},
        {"<![cdata[x<&]]>", "cdata:x<&;"},
        {"<!DOCTYPE html [<!x>]><r/>", "doctype:html [<!x>];r{};"},
        {"<?xml version='1'?><!-- c -- d --><r>t</r>", "pi:xml version='1';comment: c -- d ;r{'t';};"},
        {"<a><b>x</b>tail</a>", "a{b{'x';};'tail';};"},
        {"x &amp", "'x &amp';"},
        {std::string("<a>x\0<b/></a>", 13), "a{'x';};"},
        {"<a>x</a  >", "a{'x';};"},
        {"<a t='&quot;&apos;'>&apos;</a>", "a[t=\"']{''';};"},
    };
    for (const Case& c : cases) EXPECT_EQ(parsed(c.input), c.tree) << c.input;
}

TEST(XmlParser, EveryFailureWithItsExactMessageAndPosition) {
    struct Case {
        std::string input;
        bool strict;
        std::string failure;
    };
    const Case cases[] = {
        {"<a>", false, "Unexpected end @ 3"},
        {"<a", false, "Unexpected end @ 2"},
        {"<a x='1", false, "Unexpected end @ 7"},
        {"<!-- x", false, "Unexpected end @ 6"},
        {"<", false, "Unexpected end @ 1"}, {"<a ", false, "Unexpected end @ 3"}, {"<a/", false, "Unexpected end @ 3"}, {"<a x", false, "Unexpected end @ 4"},
        {"<a x ", false, "Unexpected end @ 5"}, {"<a x=", false, "Unexpected end @ 5"}, {"<a t='&amp", false, "Unexpected end @ 10"}, {"<a></a", false, "Unexpected end @ 6"},
        {"<a></a ", false, "Unexpected end @ 7"}, {"<!DOCTYPE x", false, "Unexpected end @ 11"}, {"<?pi", false, "Unexpected end @ 4"},
        {"</a>", false, "Bad node type, expected Element but found 6"},
        {"<>", false, "Expected node name @ 1"},
        {"<a></>", false, "Expected node name @ 5"},
        {"<a =1/>", false, "Expected attribute name @ 3"},
        {"<a x='1' x='2'/>", false, "Duplicate attribute [x] @ 10"},
        {"<a x/>", false, "Expected = @ 4"},
        {"<a b=1>", false, "Expected \" @ 5"},
        {"<a/b>", false, "Expected > @ 3"},
        {"<a / >", false, "Expected > @ 4"},
        {"<a></a b>", false, "Expected > @ 7"},
        {"<a>\n<b></c>", false, "Expected </b> @ 10"},
        {"<![CDAT[x]]>", false, "Expected <![CDATA[ @ 3"},
        {"<!DOCTYP x>", false, "Expected <!DOCTYPE @ 1"},
        {"<!x>", false, "Expected <!-- @ 1"},
        {"<a t='&#x110000;'/>", false, "Cannot encode UTF8-char 1114112 @ 15"},
        {"<a t='a<b'/>", true, "Invalid unescaped < in attribute value @ 7"},
        {"<a t='a>b'/>", true, "Invalid unescaped > in attribute value @ 7"},
        {"<a>&copy;</a>", true, "Undefined entity: copy @ 8"},
        {"<a>a & b</a>", true, "Invalid character in entity:   @ 6"},
        {"x &amp", true, "Unexpected end @ 6"},
        {manyAttributesThenTheFirst(5000), false, "Duplicate attribute [a0] @ 43895"},
    };
    for (const Case& c : cases) EXPECT_EQ(failure(c.input, c.strict), c.failure) << c.input.substr(0, 80);
    // Four times the attributes cost about four times the duplicate check, not sixteen.
    EXPECT_LT(cpuSecondsOfFailure(manyAttributesThenTheFirst(20000)),
              10 * cpuSecondsOfFailure(manyAttributesThenTheFirst(5000)));
}

TEST(XmlParser, ExceptionPlacesTheFailureByLineAndColumn) {
    try {
        Parser::parse("<a>\n<b></c>");
        FAIL();
    } catch (const XmlParserException& e) {
        EXPECT_EQ(e.lineNumber, 2);
        EXPECT_EQ(e.positionAtLine, 6);
        EXPECT_EQ(e.position, 10);
        EXPECT_EQ(e.xml, "<a>\n<b></c>");
    }
    EXPECT_EQ(XmlParserException("Expected >", "<a/b>", 3).toString(),
              "lumo.xml.XmlParserException: Expected > at line 1 char 3");
    // Carriage returns do not count; positions past the end do.
    XmlParserException e("m", "a\r\nbc", 8);
    EXPECT_EQ(e.lineNumber, 2);
    EXPECT_EQ(e.positionAtLine, 5);
}

TEST(XmlParser, NestingIsBounded) {
    std::string ok;
    for (int i = 0; i < 1000; ++i) ok += "<e>";
    EXPECT_EQ(Parser::parse(ok + "x")->firstElement()->nodeName(), "e");
    std::string deep;
    for (int i = 0; i < 1000000; ++i) deep += "<e>";
    EXPECT_EQ(failure(deep), "Nesting deeper than 1000 levels @ 3003");
    EXPECT_EQ(failure(deep, true), "Nesting deeper than 1000 levels @ 3003");
}
