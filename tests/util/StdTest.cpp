#include "util/Std.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "lumo/io/Error.h"

using runtime::Dynamic;

TEST(Std, ParseIntReadsThePrefix) {
    EXPECT_EQ(Std::parseInt("0x1F"), 31);
    EXPECT_EQ(Std::parseInt("0XfFz"), 255);
    EXPECT_EQ(Std::parseInt("0x"), 0);
    EXPECT_EQ(Std::parseInt("  -12abc"), -12);
    EXPECT_EQ(Std::parseInt("+7"), 7);
    EXPECT_EQ(Std::parseInt("\t\n 42"), 42);
    EXPECT_EQ(Std::parseInt("2147483647"), 2147483647);
    EXPECT_EQ(Std::parseInt("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(Std::parseInt("0xFFFFFFFF"), -1);
    // Overlong input wraps instead of overflowing.
    EXPECT_EQ(Std::parseInt("4294967297"), 1);
    EXPECT_EQ(Std::parseInt("abc"), std::nullopt);
    EXPECT_EQ(Std::parseInt("-"), std::nullopt);
    EXPECT_EQ(Std::parseInt(" x0x1"), std::nullopt);
    EXPECT_EQ(Std::parseInt(""), std::nullopt);
    EXPECT_EQ(Std::parseInt(std::nullopt), std::nullopt);
}

TEST(Std, ParseFloatReadsTheLongestDecimalPrefix) {
    EXPECT_EQ(Std::parseFloat("1e3"), 1000.0);
    EXPECT_EQ(Std::parseFloat(" -2.5x"), -2.5);
    EXPECT_EQ(Std::parseFloat(".5"), 0.5);
    EXPECT_EQ(Std::parseFloat("5."), 5.0);
    EXPECT_EQ(Std::parseFloat("1e5.5"), 100000.0);
    EXPECT_EQ(Std::parseFloat("1e"), 1.0);
    EXPECT_EQ(Std::parseFloat("2E+2"), 200.0);
    EXPECT_EQ(Std::parseFloat("1e999"), HUGE_VAL);
    EXPECT_EQ(Std::parseFloat("1e-999"), 0.0);
    // Hexadecimal and named values are not decimal.
    EXPECT_EQ(Std::parseFloat("0x10"), 0.0);
    for (const char* bad : {"abc", "", "-", ".", "inf", "nan", "e5"}) {
        EXPECT_TRUE(std::isnan(Std::parseFloat(bad))) << bad;
    }
    EXPECT_TRUE(std::isnan(Std::parseFloat(std::nullopt)));
}

TEST(Std, FloatToIntTruncatesAndKeepsLow32Bits) {
    EXPECT_EQ(Std::toInt(2.9), 2);
    EXPECT_EQ(Std::toInt(-2.9), -2);
    EXPECT_EQ(Std::toInt(2147483648.0), -2147483647 - 1);
    EXPECT_EQ(Std::toInt(4294967297.0), 1);
    EXPECT_EQ(Std::toInt(NAN), 0);
    EXPECT_EQ(Std::toInt(1e300), 0);
}

TEST(Std, TextOfValues) {
    EXPECT_EQ(Std::string(Dynamic()), "null");
    EXPECT_EQ(Std::string(Dynamic(true)), "true");
    EXPECT_EQ(Std::string(Dynamic(false)), "false");
    EXPECT_EQ(Std::string(Dynamic(-12)), "-12");
    EXPECT_EQ(Std::string(Dynamic(0.1)), "0.1");
    EXPECT_EQ(Std::string(Dynamic(1e21)), "1e+21");
    EXPECT_EQ(Std::string(Dynamic(100.0)), "100");
    EXPECT_EQ(Std::string(Dynamic(1.0 / 3)), "0.333333333333333");
    EXPECT_EQ(Std::string(Dynamic("Live")), "Live");
    EXPECT_EQ(Std::string(std::optional<std::string>()), "null");
    EXPECT_EQ(Std::string(std::optional<std::string>("x")), "x");
    EXPECT_EQ(Std::string(lumo::io::Error::Custom("x")), "Custom(x)");
    Dynamic list = Dynamic::array();
    list.asArray() = {Dynamic(1), Dynamic("a")};
    EXPECT_EQ(Std::string(list), "[1,a]");
    Dynamic obj = Dynamic::object();
    EXPECT_EQ(Std::string(obj), "{}");
    obj.asObject().set("a", Dynamic(1));
    obj.asObject().set("b", Dynamic());
    EXPECT_EQ(Std::string(obj), "{ a : 1, b : null }");
    // Containers past the parsers' 1000 levels, or within themselves, are left out.
    Dynamic deep;
    for (int i = 0; i < 300000; ++i) { Dynamic outer = Dynamic::array(); outer.asArray().push_back(std::exchange(deep, outer)); }
    EXPECT_EQ(Std::string(deep), std::string(1000, '[') + "[...]" + std::string(1000, ']'));
    obj.asObject().set("l", list);
    list.asArray().push_back(obj);
    EXPECT_EQ(Std::string(obj), "{ a : 1, b : null, l : [1,a,{ ... }] }");
    list.asArray() = {};
}

TEST(Std, RandomStaysInRange) {
    EXPECT_EQ(Std::random(0), 0);
    EXPECT_EQ(Std::random(-5), 0);
    bool seen[3] = {};
    for (int i = 0; i < 300; ++i) {
        int r = Std::random(3);
        ASSERT_GE(r, 0);
        ASSERT_LT(r, 3);
        seen[r] = true;
    }
    EXPECT_TRUE(seen[0] && seen[1] && seen[2]);
}
