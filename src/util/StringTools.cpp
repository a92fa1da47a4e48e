#include "util/StringTools.h"

#include <array>

#include "runtime/Utf8.h"

namespace {

bool isSpace(unsigned char c) { return (c >= 9 && c <= 13) || c == 32; }

// Printable ASCII minus the characters that have a meaning in URLs or are unsafe in them.
const std::array<bool, 256>& unreserved() {
    static const std::array<bool, 256> table = [] {
        std::array<bool, 256> t{};
        for (int c = 33; c <= 126; ++c) t[c] = true;
        for (unsigned char c : std::string_view("$&+,/:;=?@\"<>#%{}|\\^~[]`")) t[c] = false;
        return t;
    }();
    return table;
}

}  // namespace

std::string StringTools::urlEncode(const std::string& s) {
    const auto& keep = unreserved();
    std::size_t escaped = 0;
    for (unsigned char c : s) escaped += keep[c] ? 0 : 1;
    if (escaped == 0) return s;
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(s.size() + 2 * escaped);
    for (unsigned char c : s) {
        if (keep[c]) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::vector<std::string> StringTools::split(std::string_view s, std::string_view delimiter) {
    std::vector<std::string> pieces;
    if (delimiter.empty()) {
        for (char c : s) pieces.emplace_back(1, c);
        if (s.empty()) pieces.emplace_back();
        return pieces;
    }
    std::size_t from = 0;
    for (std::size_t at; (at = s.find(delimiter, from)) != std::string_view::npos;) {
        pieces.emplace_back(s.substr(from, at - from));
        from = at + delimiter.size();
    }
    pieces.emplace_back(s.substr(from));
    return pieces;
}

std::string StringTools::join(const std::vector<std::string>& pieces, std::string_view delimiter) {
    std::string out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) out += delimiter;
        out += pieces[i];
    }
    return out;
}

std::string StringTools::replace(std::string_view s, std::string_view sub, std::string_view by) {
    return join(split(s, sub), by);
}

std::string StringTools::ltrim(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size() && isSpace(static_cast<unsigned char>(s[i]))) ++i;
    return s.substr(i);
}

std::string StringTools::rtrim(const std::string& s) {
    std::size_t n = s.size();
    while (n > 0 && isSpace(static_cast<unsigned char>(s[n - 1]))) --n;
    return s.substr(0, n);
}

bool StringTools::endsWith(std::string_view s, std::string_view end) { return s.ends_with(end); }

std::string StringTools::toLowerCase(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

void StringTools::appendUtf8(std::string& out, std::uint32_t code) {
    runtime::appendUtf8(out, code);
}
