#include "util/Std.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

#include "runtime/Thrown.h"

using runtime::Dynamic;

std::string Std::string(double f) {
    char buf[100];
    std::snprintf(buf, sizeof buf, "%.15g", f);
    return buf;
}

std::string Std::string(const runtime::Thrown& thrown) { return thrown.toString(); }

namespace {

// Containers deeper than the parsers nest (so every value they give is written whole), and
// containers within themselves, are written as "[...]" or "{ ... }": the text ends, and so
// does the recursion.
constexpr std::size_t kMaxDepth = 1000;

// Appends the text of v; open holds the containers being written, outermost first.
void write(std::string& out, const Dynamic& v, std::vector<const void*>& open) {
    const bool isArray = v.kind() == Dynamic::Kind::Array;
    if (!isArray && v.kind() != Dynamic::Kind::Object) {
        out += Std::string(v);
        return;
    }
    const void* node = isArray ? static_cast<const void*>(&v.asArray()) : &v.asObject();
    if (open.size() == kMaxDepth || std::find(open.begin(), open.end(), node) != open.end()) {
        out += isArray ? "[...]" : "{ ... }";
        return;
    }
    open.push_back(node);
    if (isArray) {
        out += '[';
        const auto& items = v.asArray();
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i > 0) out += ',';
            write(out, items[i], open);
        }
        out += ']';
    } else if (const auto& fields = v.asObject().fields(); fields.empty()) {
        out += "{}";
    } else {
        out += "{ ";
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i > 0) out += ", ";
            out += fields[i].name;
            out += " : ";
            write(out, fields[i].value, open);
        }
        out += " }";
    }
    open.pop_back();
}

}  // namespace

std::string Std::string(const Dynamic& v) {
    switch (v.kind()) {
        case Dynamic::Kind::Null: break;
        case Dynamic::Kind::Bool: return v.asBool() ? "true" : "false";
        case Dynamic::Kind::Int: return std::to_string(v.asInt());
        case Dynamic::Kind::Float: return string(v.asFloat());
        case Dynamic::Kind::String: return std::string(v.asString());
        case Dynamic::Kind::Array:
        case Dynamic::Kind::Object: {
            std::string out;
            std::vector<const void*> open;
            write(out, v, open);
            return out;
        }
    }
    return "null";
}

namespace {
bool isSpace(char c) { return (c >= 9 && c <= 13) || c == ' '; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
int hexValue(char c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

std::optional<std::int32_t> Std::parseInt(std::optional<std::string_view> text) {
    return readInt(text).value;
}

Std::IntReading Std::readInt(std::optional<std::string_view> text) {
    if (!text) return {};
    std::string_view s = *text;
    // Unsigned arithmetic wraps instead of overflowing: the result is the value mod 2^32.
    // The magnitude is capped just past the Int range, so no length of input overflows it.
    constexpr std::uint64_t kPastInt = std::uint64_t{1} << 32;
    std::uint32_t value = 0;
    std::uint64_t magnitude = 0;
    auto add = [&](std::uint32_t base, std::uint32_t digit) {
        value = value * base + digit;
        magnitude = std::min(magnitude * base + digit, kPastInt);
    };
    if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        for (std::size_t i = 2; i < s.size() && hexValue(s[i]) >= 0; ++i) {
            add(16, static_cast<std::uint32_t>(hexValue(s[i])));
        }
        return {static_cast<std::int32_t>(value), magnitude > INT32_MAX};
    }
    std::size_t i = 0;
    while (i < s.size() && isSpace(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    std::size_t digitsFrom = i;
    for (; i < s.size() && isDigit(s[i]); ++i) add(10, static_cast<std::uint32_t>(s[i] - '0'));
    if (i == digitsFrom) return {};
    return {static_cast<std::int32_t>(negative ? 0u - value : value),
            magnitude > INT32_MAX + std::uint64_t{negative}};
}

double Std::parseFloat(std::optional<std::string_view> text) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    if (!text) return kNaN;
    std::string_view s = *text;
    std::size_t i = 0;
    while (i < s.size() && isSpace(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    std::size_t from = i;
    std::size_t digits = 0;
    for (; i < s.size() && isDigit(s[i]); ++i) ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        for (; i < s.size() && isDigit(s[i]); ++i) ++digits;
    }
    if (digits == 0) return kNaN;
    std::size_t end = i;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '-' || s[j] == '+')) ++j;
        if (j < s.size() && isDigit(s[j])) {
            while (j < s.size() && isDigit(s[j])) ++j;
            end = j;
        }
    }
    // The prefix is plain decimal, which from_chars reads exactly and without allocating.
    // Beyond the range of double it reports an error instead of a value; strtod, in the
    // "C" locale we run in, gives infinity or zero there.
    double value = 0;
    if (std::from_chars(s.data() + from, s.data() + end, value).ec != std::errc()) {
        value = std::strtod(std::string(s.substr(from, end - from)).c_str(), nullptr);
    }
    return negative ? -value : value;
}

std::int32_t Std::toInt(double f) {
    // Beyond the 64-bit range (and for NaN) the truncation has no defined value; the
    // processor's answer there is the lowest 64-bit integer, whose low 32 bits are 0.
    if (!(std::fabs(f) < 9.2233720368547758e18)) return 0;
    auto wide = static_cast<std::int64_t>(f);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(wide)));
}

std::int32_t Std::random(std::int32_t x) {
    if (x <= 0) return 0;
    static std::mt19937 generator{std::random_device{}()};
    return std::uniform_int_distribution<std::int32_t>(0, x - 1)(generator);
}
