#include "lumo/format/JsonParser.h"

#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "runtime/Thrown.h"
#include "util/Std.h"
#include "util/StringTools.h"

using runtime::Dynamic;

namespace lumo::format {

namespace {

bool isSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isDigit(int c) { return c >= '0' && c <= '9'; }

// Bytes that end a plain run inside a string: the quote, the backslash, NUL and every
// byte of 128 or more (which starts a skipped sequence).
constexpr std::array<bool, 256> kEndsPlainRun = [] {
    std::array<bool, 256> table{};
    for (int c = 128; c < 256; ++c) table[c] = true;
    table['"'] = table['\\'] = table[0] = true;
    return table;
}();

// The first byte at or after pos that ends a plain run, or size.
int skipPlainRun(std::string_view str, int pos) {
    const int size = static_cast<int>(str.size());
#if defined(__SSE2__)
    // Sixteen bytes at a time: compare with the three special bytes; the sign bit of each
    // byte marks the ones of 128 and more.
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i zero = _mm_setzero_si128();
    while (pos + 16 <= size) {
        __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(str.data() + pos));
        __m128i special = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, quote), _mm_cmpeq_epi8(chunk, backslash)),
                                       _mm_cmpeq_epi8(chunk, zero));
        int mask = _mm_movemask_epi8(special) | _mm_movemask_epi8(chunk);
        if (mask != 0) return pos + __builtin_ctz(static_cast<unsigned>(mask));
        pos += 16;
    }
#endif
    while (pos < size && !kEndsPlainRun[static_cast<unsigned char>(str[pos])]) ++pos;
    return pos;
}

// How many bytes follow a lead byte of 128 or more in a sequence that is skipped unread.
int followers(int c) {
    if (c < 224) return 1;
    if (c < 240) return 2;
    if (c < 248) return 3;
    if (c < 252) return 4;
    return 5;
}

// Keeps the nesting count right however a level is left.
class DepthGuard {
public:
    DepthGuard(int& depth, int pos) : depth_(depth) {
        if (++depth_ > JsonParser::kMaxDepth) {
            --depth_;
            throw runtime::ThrownMessage("Nesting deeper than " + std::to_string(JsonParser::kMaxDepth) +
                                         " levels at position " + std::to_string(pos));
        }
    }
    ~DepthGuard() { --depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

private:
    int& depth_;
};

enum class Comma { Initial, AfterValue, AfterComma };

}  // namespace

runtime::Arena* JsonParser::arena() {
    if (!arena_.get()) arena_ = runtime::Arena::create();
    return arena_.get();
}

void JsonParser::invalidChar() {
    --pos;
    int c = pos < static_cast<int>(str.size()) ? static_cast<unsigned char>(str[pos]) : 0;
    throw runtime::ThrownMessage("Invalid char " + std::to_string(c) + " at position " + std::to_string(pos));
}

void JsonParser::invalidNumber(int start) {
    std::size_t end = std::min(static_cast<std::size_t>(pos), str.size());
    throw runtime::ThrownMessage("Invalid number at position " + std::to_string(start) + ": " +
                                 std::string(str.substr(start, end - start)));
}

Dynamic JsonParser::parseRec() {
    for (;;) {
        int c = nextChar();
        if (isSpace(c)) continue;
        switch (c) {
            case '{': return parseObject();
            case '[': return parseArray();
            case 't': parseLiteral("rue"); return Dynamic(true);
            case 'f': parseLiteral("alse"); return Dynamic(false);
            case 'n': parseLiteral("ull"); return Dynamic();
            case '"': {
                std::string_view text = readString();
                return text.size() <= Dynamic::kInline ? Dynamic(text) : Dynamic(text, arena());
            }
            default:
                if (c == '-' || isDigit(c)) return parseNumber(c);
                invalidChar();
        }
    }
}

void JsonParser::parseLiteral(std::string_view rest) {
    int afterFirst = pos;
    for (char expected : rest) {
        if (nextChar() != static_cast<unsigned char>(expected)) {
            pos = afterFirst;
            invalidChar();
        }
    }
}

Dynamic JsonParser::parseObject() {
    DepthGuard guard(depth_, pos - 1);
    const std::size_t base = values_.size();
    std::string_view key;
    bool keyPending = false;
    Comma comma = Comma::Initial;
    for (;;) {
        int c = nextChar();
        switch (c) {
            case ' ': case '\t': case '\n': case '\r': break;
            case '"':
                if (comma == Comma::AfterValue) invalidChar();
                key = readString();
                // A key with escapes was decoded into the scratch buffer: keep a copy.
                if (key.data() < str.data() || key.data() >= str.data() + str.size()) {
                    key = escapedKeys_.emplace_back(key);
                }
                keyPending = true;
                break;
            case ':':
                if (!keyPending) invalidChar();
                keys_.push_back(key);
                values_.push_back(parseRec());
                keyPending = false;
                comma = Comma::AfterValue;
                break;
            case ',':
                if (comma != Comma::AfterValue) invalidChar();
                comma = Comma::AfterComma;
                break;
            case '}': {
                if (keyPending || comma == Comma::AfterComma) invalidChar();
                Dynamic obj = Dynamic::object(arena());
                auto& fields = obj.asObject();
                fields.reserve(values_.size() - base);
                const std::size_t keyBase = keys_.size() - (values_.size() - base);
                for (std::size_t i = base; i < values_.size(); ++i) {
                    fields.set(keys_[keyBase + i - base], std::move(values_[i]));
                }
                values_.resize(base);
                keys_.resize(keyBase);
                return obj;
            }
            default: invalidChar();
        }
    }
}

Dynamic JsonParser::parseArray() {
    DepthGuard guard(depth_, pos - 1);
    const std::size_t base = values_.size();
    Comma comma = Comma::Initial;
    for (;;) {
        int c = nextChar();
        switch (c) {
            case ' ': case '\t': case '\n': case '\r': break;
            case ',':
                if (comma != Comma::AfterValue) invalidChar();
                comma = Comma::AfterComma;
                break;
            case ']': {
                if (comma == Comma::AfterComma) invalidChar();
                Dynamic arr = Dynamic::array(arena());
                arr.asArray().assign(std::make_move_iterator(values_.begin() + static_cast<std::ptrdiff_t>(base)),
                                     std::make_move_iterator(values_.end()));
                values_.resize(base);
                return arr;
            }
            default:
                if (comma == Comma::AfterValue) invalidChar();
                --pos;
                values_.push_back(parseRec());
                comma = Comma::AfterValue;
        }
    }
}

Dynamic JsonParser::parseNumber(int first) {
    int start = pos - 1;
    bool minus = first == '-';  // a sign not yet followed by a digit
    bool digit = !minus;
    bool zero = first == '0';   // the integer part so far is a single 0
    bool point = false;
    bool exponent = false;
    bool exponentSign = false;
    for (;;) {
        int c = nextChar();
        if (c == '0') {
            if (zero && !point) invalidNumber(start);
            if (minus) {
                minus = false;
                zero = true;
            }
            digit = true;
        } else if (c >= '1' && c <= '9') {
            if (zero && !point) invalidNumber(start);
            minus = false;
            zero = false;
            digit = true;
        } else if (c == '.') {
            if (minus || point) invalidNumber(start);
            point = true;
            digit = false;
        } else if (c == 'e' || c == 'E') {
            if (minus || zero || exponent) invalidNumber(start);
            exponent = true;
            digit = false;
        } else if (c == '+' || c == '-') {
            if (!exponent || exponentSign) invalidNumber(start);
            exponentSign = true;
            digit = false;
        } else {
            if (!digit) invalidNumber(start);
            --pos;
            break;
        }
    }
    std::string_view text = str.substr(start, pos - start);
    // Plain integers of up to nine digits are exact as Ints; skip the float round trip.
    if (!point && !exponent && text.size() <= (text[0] == '-' ? 10u : 9u)) {
        std::int32_t value = 0;
        for (char ch : text) {
            if (ch != '-') value = value * 10 + (ch - '0');
        }
        return Dynamic(text[0] == '-' ? -value : value);
    }
    double f = Std::parseFloat(text);
    std::int32_t i = Std::toInt(f);
    if (static_cast<double>(i) == f) return Dynamic(i);
    return Dynamic(f);
}

std::string JsonParser::parseString() { return std::string(readString()); }

std::string_view JsonParser::readString() {
    int start = pos;
    bool built = false;
    for (;;) {
        pos = skipPlainRun(str, pos);
        int c = nextChar();
        if (c == '"') {
            std::string_view run = str.substr(start, pos - 1 - start);
            if (!built) return run;
            scratch_ += run;
            return scratch_;
        }
        if (c == '\\') {
            if (!built) scratch_.clear();
            built = true;
            scratch_ += str.substr(start, pos - 1 - start);
            appendEscape();
            start = pos;
        } else if (c >= 128) {
            pos += followers(c);  // the rest of a UTF-8 sequence is not examined
        } else if (c == 0) {
            throw runtime::ThrownMessage("Unclosed string");
        }
    }
}

void JsonParser::appendEscape() {
    int c = nextChar();
    switch (c) {
        case '"': case '\\': case '/': scratch_ += static_cast<char>(c); break;
        case 'b': scratch_ += '\b'; break;
        case 'f': scratch_ += '\f'; break;
        case 'n': scratch_ += '\n'; break;
        case 'r': scratch_ += '\r'; break;
        case 't': scratch_ += '\t'; break;
        case 'u': {
            std::string hex = "0x";
            if (pos < static_cast<int>(str.size())) hex += str.substr(pos, 4);
            pos += 4;
            // Each escape on its own: a surrogate pair becomes two 3-byte sequences.
            StringTools::appendUtf8(scratch_, static_cast<std::uint32_t>(Std::parseInt(hex).value_or(0)));
            break;
        }
        default:
            throw runtime::ThrownMessage("Invalid escape sequence \\" + std::string(1, static_cast<char>(c)) +
                                         " at position " + std::to_string(pos - 1));
    }
}

}  // namespace lumo::format
