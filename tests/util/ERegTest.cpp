#include "support/ThrownText.h"
#include "util/EReg.h"

#include <gtest/gtest.h>

#include "runtime/Thrown.h"

using testsupport::thrownText;


TEST(EReg, GroupsOfTheLastMatch) {
    EReg url("^(https?)://([^/:]+)(:[0-9]+)?(/.*)?$", "");
    ASSERT_TRUE(url.match("http://host/path?q"));
    EXPECT_EQ(url.matched(0), "http://host/path?q");
    EXPECT_EQ(url.matched(1), "http");
    EXPECT_EQ(url.matched(3), std::nullopt);
    EXPECT_EQ(url.matched(4), "/path?q");
    EXPECT_EQ(thrownText([&] { url.matched(5); }), "regexp_matched - no valid match");
    EXPECT_EQ(thrownText([&] { url.matched(-1); }), "regexp_matched - no valid match");
    EXPECT_FALSE(url.match("ftp://x"));
    EXPECT_EQ(thrownText([&] { url.matched(0); }), "regexp_matched - no valid match");
    EXPECT_EQ(url.matchedPos(), std::nullopt);
}

TEST(EReg, MatchedPositionAndBinarySubjects) {
    EReg r("b+", "");
    ASSERT_TRUE(r.match(std::string("a\0bbb c", 7)));
    auto pos = r.matchedPos();
    ASSERT_TRUE(pos.has_value());
    EXPECT_EQ(pos->pos, 2);
    EXPECT_EQ(pos->len, 3);
    EXPECT_TRUE(EReg("$", "").match(""));
}

TEST(EReg, Options) {
    EReg caseless("^abc$", "gi");
    EXPECT_TRUE(caseless.global);
    EXPECT_TRUE(caseless.match("ABC"));
    EXPECT_FALSE(EReg("^abc$", "").global);
    EXPECT_FALSE(EReg("^abc$", "").match("ABC"));
    EXPECT_TRUE(EReg("^b$", "m").match("a\nb\nc"));
    EXPECT_TRUE(EReg("a.c", "s").match("a\nc"));
    EXPECT_FALSE(EReg("a.c", "").match("a\nc"));
    EXPECT_EQ(EReg("^.$", "u").match("\xC3\xA9"), true);
    EXPECT_EQ(EReg("^.$", "").match("\xC3\xA9"), false);
    // Invalid UTF-8 under "u" is no match, not a crash.
    EXPECT_FALSE(EReg("x", "u").match("\xFFx"));
    EReg rejected("a", "z");
    EXPECT_EQ(thrownText([&] { rejected.match("a"); }), "Regexp options not accepted");
    EXPECT_EQ(thrownText([&] { rejected.matched(0); }), "regexp_matched - no valid match");
    EXPECT_EQ(rejected.matchedPos(), std::nullopt);
}

TEST(EReg, RunawaySearchesEndWithoutAMatch) {
    // Exponential backtracking: without a bound this runs for ages.
    EXPECT_FALSE(EReg("^(a+)+$", "").match(std::string(40, 'a') + "b"));
    // One recursion per repetition: without a bound a long subject overflows the stack.
    EXPECT_FALSE(EReg("^(a|b)*$", "").match(std::string(1 << 20, 'a')));
    // Ordinary work is well inside the bounds.
    EXPECT_TRUE(EReg("^(a|b)*$", "").match(std::string(1000, 'a')));
    EXPECT_TRUE(EReg("^(https?)://([^/:]+)(:[0-9]+)?(/.*)?$", "").match("http://h/" + std::string(100000, 'p')));
}

TEST(EReg, CompilationErrorsNameThePattern) {
    std::string message = thrownText([] { EReg("a(b", ""); });
    EXPECT_TRUE(message.starts_with("Regexp compilation error : ")) << message;
    EXPECT_TRUE(message.ends_with(" in a(b")) << message;
}
