#include "lumo/format/JsonParser.h"

#include <gtest/gtest.h>

#include <cmath>

#include "runtime/Thrown.h"
#include "util/Reflect.h"
#include "util/Std.h"

using lumo::format::JsonParser;
using runtime::Dynamic;

namespace {

Dynamic parse(std::string_view text) { return JsonParser(text).parseRec(); }

std::string failure(std::string_view text) {
    try {
        parse(text);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "parsed";
}

}  // namespace

TEST(JsonParser, EveryFailureWithItsExactMessage) {
    struct Case {
        std::string input;
        std::string message;
    };
    const Case cases[] = {
        {"", "Invalid char 0 at position 0"},
        {"  tru", "Invalid char 116 at position 2"},
        {"nul", "Invalid char 110 at position 0"},
        {"fals e", "Invalid char 102 at position 0"},
        {"x", "Invalid char 120 at position 0"},
        {"[", "Invalid char 0 at position 1"},
        {"[,1]", "Invalid char 44 at position 1"},
        {"[1,]", "Invalid char 93 at position 3"},
        {"[1 2]", "Invalid char 50 at position 3"},
        {"{,}", "Invalid char 44 at position 1"},
        {"{\"a\":1,}", "Invalid char 125 at position 7"},
        {"{\"a\"}", "Invalid char 125 at position 4"},
        {"{\"a\":1 \"b\":2}", "Invalid char 34 at position 7"},
        {"{:1}", "Invalid char 58 at position 1"},
        {"{1:2}", "Invalid char 49 at position 1"},
        {"{\"a\":1", "Invalid char 0 at position 6"},
        {"012", "Invalid number at position 0: 01"},
        {"-", "Invalid number at position 0: -"},
        {"-x", "Invalid number at position 0: -x"},
        {"1.", "Invalid number at position 0: 1."},
        {"1e", "Invalid number at position 0: 1e"},
        {"1.2.3", "Invalid number at position 0: 1.2."},
        {" 0e1", "Invalid number at position 1: 0e"},
        {"-0e1", "Invalid number at position 0: -0e"},
        {"0.0e1", "Invalid number at position 0: 0.0e"},
        {"1e+-2", "Invalid number at position 0: 1e+-"},
        {"-.5", "Invalid number at position 0: -."},
        {"+1", "Invalid char 43 at position 0"},
        {".5", "Invalid char 46 at position 0"},
        {"\"ab", "Unclosed string"},
        {std::string("\"a\0b\"", 5), "Unclosed string"},
        {"\"\\u12\"", "Unclosed string"},
        {"\"a\\x\"", "Invalid escape sequence \\x at position 3"},
        {"[\"\\q\"]", "Invalid escape sequence \\q at position 3"},
        {"\"\xE9\"", "Unclosed string"},
    };
    for (const Case& c : cases) EXPECT_EQ(failure(c.input), c.message) << c.input;
}

TEST(JsonParser, NumbersBecomeIntsOrFloats) {
    struct Case {
        const char* text;
        Dynamic::Kind kind;
        double value;
    };
    for (const Case& c : {
             Case{"-0", Dynamic::Kind::Int, 0}, Case{"10", Dynamic::Kind::Int, 10},
             Case{"1.5", Dynamic::Kind::Float, 1.5}, Case{"1e5", Dynamic::Kind::Int, 1e5},
             Case{"1E+5", Dynamic::Kind::Int, 1e5}, Case{"1.e5", Dynamic::Kind::Int, 1e5},
             Case{"1e5.5", Dynamic::Kind::Int, 1e5}, Case{"1.0", Dynamic::Kind::Int, 1},
             Case{"1e2", Dynamic::Kind::Int, 100}, Case{"2147483648", Dynamic::Kind::Float, 2147483648.0},
             Case{"1e10", Dynamic::Kind::Float, 1e10}, Case{"-2147483648", Dynamic::Kind::Int, -2147483648.0},
             Case{"2147483647", Dynamic::Kind::Int, 2147483647}, Case{"-999999999", Dynamic::Kind::Int, -999999999},
             Case{"3.25", Dynamic::Kind::Float, 3.25}, Case{"0.5e-3", Dynamic::Kind::Float, 0.0005},
             Case{"1e400", Dynamic::Kind::Float, HUGE_VAL},
         }) {
        Dynamic v = parse(c.text);
        ASSERT_EQ(v.kind(), c.kind) << c.text;
        EXPECT_EQ(c.kind == Dynamic::Kind::Int ? v.asInt() : v.asFloat(), c.value) << c.text;
    }
}

TEST(JsonParser, StringsAndEscapes) {
    EXPECT_EQ(Std::string(parse("\"\\u007f\\u0080\\u00e9\"")), "\x7F\xC2\x80\xC3\xA9");
    EXPECT_EQ(Std::string(parse("\"\\u07ff\\u0800\"")), "\xDF\xBF\xE0\xA0\x80");
    EXPECT_EQ(Std::string(parse("\"\\u20ac\"")), "\xE2\x82\xAC");
    EXPECT_EQ(Std::string(parse("\"\\ud83d\\ude00\"")), "\xED\xA0\xBD\xED\xB8\x80");
    EXPECT_EQ(Std::string(parse("\"\\u0041\\u7zzz\"")), "A\x07");
    EXPECT_EQ(Std::string(parse("\"\\uzz12\"")), std::string(1, '\0'));
    EXPECT_EQ(Std::string(parse("\"a\\\"b\\\\c\\/d\\b\\f\\n\\r\\t\"")), "a\"b\\c/d\b\f\n\r\t");
    EXPECT_EQ(Std::string(parse("\"\xC3\xA9t\xC3\xA9\"")), "\xC3\xA9t\xC3\xA9");
    // A high byte makes the next byte part of its sequence, even a quote.
    EXPECT_EQ(Std::string(parse("\"\xE9\"x\"")), "\xE9\"x");
    EXPECT_EQ(Std::string(parse("\"\xF0\x9F\x98\x80\xF8\"\"\"\"\xFC\"\"\"\"\"\"")),
              "\xF0\x9F\x98\x80\xF8\"\"\"\"\xFC\"\"\"\"\"");
    // An escaped key outlives the next escaped string, which reuses the parser's scratch.
    EXPECT_EQ(Std::string(parse("{\"k\\u00e9\":\"\\t\"}")), "{ k\xC3\xA9 : \t }");
    EXPECT_EQ(Std::string(parse("\"ctrl\x01\ttab\"")), "ctrl\x01\ttab");
    EXPECT_EQ(JsonParser("x\"ab\\nc\"").parseString(), "x");
    std::string longText(5000, 'y');
    EXPECT_EQ(Std::string(parse("\"" + longText + "\\n\"")), longText + "\n");
}

TEST(JsonParser, ObjectsArraysAndWhatFollows) {
    Dynamic obj = parse(" {\"a\":1, \"\":[true,false,null], \"a\":2, \"k\" \"b\":\"v\"} trailing");
    ASSERT_EQ(obj.kind(), Dynamic::Kind::Object);
    EXPECT_EQ(Reflect::fields(obj), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(Reflect::field(obj, "a").asInt(), 2);
    EXPECT_EQ(Std::string(Reflect::field(obj, "")), "[true,false,null]");
    EXPECT_EQ(Std::string(Reflect::field(obj, "b")), "v");
    EXPECT_EQ(Std::string(parse("{}")), "{}");
    EXPECT_EQ(Std::string(parse("[]")), "[]");

    JsonParser p("[1,2]x");
    EXPECT_EQ(Std::string(p.parseRec()), "[1,2]");
    EXPECT_EQ(p.pos, 5);
    EXPECT_EQ(Std::string(parse("\t\r\n[ 1 , [ ] ]")), "[1,[]]");
}

TEST(JsonParser, NestingIsBounded) {
    std::string ok = std::string(1000, '[') + std::string(1000, ']');
    EXPECT_EQ(Std::string(parse(ok)).size(), 2000u);
    std::string deep(1000000, '[');
    EXPECT_EQ(failure(deep), "Nesting deeper than 1000 levels at position 1000");
    std::string objects;
    for (int i = 0; i < 1000000; ++i) objects += "{\"a\":";
    EXPECT_EQ(failure(objects), "Nesting deeper than 1000 levels at position 5000");
}
