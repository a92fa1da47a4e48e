#include "util/StringTools.h"

#include <gtest/gtest.h>

#include "util/StringBuf.h"

using Pieces = std::vector<std::string>;

TEST(StringTools, UrlEncodeEscapesAllButTheUnreserved) {
    EXPECT_EQ(StringTools::urlEncode("a b"), "a%20b");
    EXPECT_EQ(StringTools::urlEncode("~"), "%7E");
    EXPECT_EQ(StringTools::urlEncode("Az09-_.!'()*"), "Az09-_.!'()*");
    EXPECT_EQ(StringTools::urlEncode("$&+,/:;=?@\"<>#%{}|\\^[]`"),
              "%24%26%2B%2C%2F%3A%3B%3D%3F%40%22%3C%3E%23%25%7B%7D%7C%5C%5E%5B%5D%60");
    EXPECT_EQ(StringTools::urlEncode(std::string("\x00\x1F\x7F\xFF", 4)), "%00%1F%7F%FF");
    EXPECT_EQ(StringTools::urlEncode(""), "");
}

TEST(StringTools, ReplaceSplitAndJoin) {
    EXPECT_EQ(StringTools::replace("a.b.c", ".", ""), "abc");
    EXPECT_EQ(StringTools::replace("aaa", "aa", "b"), "ba");
    EXPECT_EQ(StringTools::replace("a1,,b2,,", ",,", ""), "a1b2");
    EXPECT_EQ(StringTools::replace("abc", "", "-"), "a-b-c");
    EXPECT_EQ(StringTools::split("a,,b,", ","), (Pieces{"a", "", "b", ""}));
    EXPECT_EQ(StringTools::split("abc", "/"), (Pieces{"abc"}));
    EXPECT_EQ(StringTools::split("", "/"), (Pieces{""}));
    EXPECT_EQ(StringTools::split("", ""), (Pieces{""}));
    EXPECT_EQ(StringTools::join({"a", "", "b"}, "\\"), "a\\\\b");
    EXPECT_EQ(StringTools::join({}, "x"), "");
}

TEST(StringTools, TrimEndsWithAndLowerCase) {
    EXPECT_EQ(StringTools::ltrim(" \t\n\v\f\rx y "), "x y ");
    EXPECT_EQ(StringTools::rtrim(" x y \t\n\v\f\r"), " x y");
    EXPECT_EQ(StringTools::ltrim("   "), "");
    EXPECT_EQ(StringTools::rtrim(std::string("x\0", 2)), std::string("x\0", 2));
    EXPECT_TRUE(StringTools::endsWith("abc", ""));
    EXPECT_TRUE(StringTools::endsWith("abc", "bc"));
    EXPECT_FALSE(StringTools::endsWith("bc", "abc"));
    EXPECT_EQ(StringTools::toLowerCase("BeSt\xC9"), "best\xC9");
}

TEST(StringBuf, PiecesAndCharactersInOrder) {
    StringBuf b;
    b.add("ab");
    b.addChar('c');
    b.add("def");
    b.addChar(0);
    EXPECT_EQ(b.length(), 7);
    EXPECT_EQ(b.toString(), std::string("abcdef\0", 7));
}
