#pragma once
// Conversions between values and text.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/Dynamic.h"

namespace runtime {
class Thrown;
}

class Std {
public:
    // "null" for null; Bool "true"/"false"; Int in decimal; Float as "%.15g"; arrays as
    // "[a,b]" and objects as "{ name : value, ... }". An array or object within itself, or
    // nested deeper than 1000 levels, is written "[...]" or "{ ... }".
    static std::string string(const runtime::Dynamic& v);
    static std::string string(const std::optional<std::string>& s) { return s ? *s : "null"; }
    static std::string string(const runtime::Thrown& thrown);
    static std::string string(double f);

    // Hexadecimal after "0x"/"0X", else an optionally signed decimal after leading white
    // space; reading stops at the first byte that does not fit. Absent only when nothing
    // was read. The value is taken modulo 2^32, as a 32-bit Int.
    static std::optional<std::int32_t> parseInt(std::optional<std::string_view> s);
    // parseInt's reading, with what it hides: overflow is set when the number read does
    // not fit a 32-bit Int, so that value (parseInt's result) has wrapped.
    struct IntReading {
        std::optional<std::int32_t> value;
        bool overflow = false;
    };
    static IntReading readInt(std::optional<std::string_view> s);
    // The longest decimal floating-point prefix; NaN when there is none.
    static double parseFloat(std::optional<std::string_view> s);
    // Towards zero; outside the 32-bit range, the low 32 bits of the 64-bit truncation.
    static std::int32_t toInt(double f);
    // 0 for x <= 0, otherwise 0 to x - 1.
    static std::int32_t random(std::int32_t x);
};
