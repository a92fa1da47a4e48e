// Numbers read in one pass agree with the general decimal reader on every form: the
// value, and Int where the value is a whole number in the Int range, Float otherwise.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "lumo/format/JsonParser.h"
#include "runtime/Thrown.h"
#include "util/Std.h"

using runtime::Dynamic;

namespace {

// What the number must read as: the decimal reader's value, an Int when it survives the
// truncation to Int unchanged.
void expectReadAs(const std::string& text) {
    double expected = Std::parseFloat(text);
    Dynamic got = lumo::format::JsonParser(text).parseRec();
    std::int32_t asInt = Std::toInt(expected);
    if (static_cast<double>(asInt) == expected) {
        ASSERT_EQ(got.kind(), Dynamic::Kind::Int) << text;
        EXPECT_EQ(got.asInt(), asInt) << text;
    } else {
        ASSERT_EQ(got.kind(), Dynamic::Kind::Float) << text;
        // Bit for bit, also for the sign of zero.
        EXPECT_EQ(std::signbit(got.asFloat()), std::signbit(expected)) << text;
        EXPECT_TRUE(got.asFloat() == expected || (std::isnan(expected) && std::isnan(got.asFloat()))) << text;
    }
}

}  // namespace

TEST(JsonNumber, OnePassReadingAgreesWithTheDecimalReader) {
    for (const char* text : {"0", "-0", "-0.0", "0.5", "1e22", "1e23", "9007199254740993", "123456789",
                             "1234567890", "2147483647", "2147483648", "-2147483648", "-2147483649",
                             "4294967296", "0.1", "1.7976931348623157e308", "1e309", "4.9e-324", "1e-400",
                             "3.5e3", "3.5E+3", "25e-1", "100000000000000000000000", "0.000001", "123.456e-2",
                             "1e.5", "5E0.14", "1e+.5", "95E.9", "1e5+3", "1.5e-3"}) {
        expectReadAs(text);
    }
    // Random forms around the limits of the exact path: 1 to 20 digits, a point anywhere,
    // exponents from -30 to 30.
    std::mt19937 rng(7);
    for (int round = 0; round < 20000; ++round) {
        std::string text = rng() % 2 ? "-" : "";
        int digits = 1 + static_cast<int>(rng() % 20);
        int point = static_cast<int>(rng() % (digits + 1));
        text += static_cast<char>('1' + rng() % 9);
        for (int i = 1; i < digits; ++i) {
            if (i == point) text += '.';
            text += static_cast<char>('0' + rng() % 10);
        }
        if (rng() % 2) {
            text += 'e';
            text += std::to_string(static_cast<int>(rng() % 61) - 30);
        }
        expectReadAs(text);
    }
    // Any text of number characters that the scanner accepts, however odd: points and
    // signs after the exponent marker included.
    const std::string alphabet = "0123456789012345678901234567890123456789.eE+-";
    int accepted = 0;
    for (int round = 0; round < 100000; ++round) {
        std::string text(1, "-0123456789"[rng() % 11]);
        for (int n = static_cast<int>(rng() % 10); n > 0; --n) text += alphabet[rng() % alphabet.size()];
        try {
            lumo::format::JsonParser(text).parseRec();
        } catch (const runtime::Thrown&) {
            continue;
        }
        ++accepted;
        expectReadAs(text);
    }
    EXPECT_GT(accepted, 10000);
}
