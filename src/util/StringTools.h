#pragma once
// Text helpers over 8-bit strings; positions and lengths count bytes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class StringTools {
public:
    // Percent-escapes (upper-case hex) every byte outside the unreserved set: letters,
    // digits and ! ' ( ) * - . _ stay as they are.
    static std::string urlEncode(const std::string& s);
    // Every non-overlapping occurrence of sub, left to right, replaced by by. An empty sub
    // puts `by` between every two bytes (the text split into single bytes and joined).
    static std::string replace(std::string_view s, std::string_view sub, std::string_view by);
    // White space is the bytes 9 to 13 and 32.
    static std::string ltrim(const std::string& s);
    static std::string rtrim(const std::string& s);
    static bool endsWith(std::string_view s, std::string_view end);

    // The text operations the launcher uses, exactly as its readings rely on them.
    // split keeps empty pieces; a text without the delimiter is one piece.
    static std::vector<std::string> split(std::string_view s, std::string_view delimiter);
    static std::string join(const std::vector<std::string>& pieces, std::string_view delimiter);
    static std::string toLowerCase(std::string s);
    // Appends a code point (at most 0x10FFFF) in UTF-8: 1 to 4 bytes.
    static void appendUtf8(std::string& out, std::uint32_t code);
};
