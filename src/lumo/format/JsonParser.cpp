#include "lumo/format/JsonParser.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

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

// The number reader's rules (JsonParser.h), one byte at a time: the last byte taken and the
// marks seen so far decide what may follow. The digits are gathered on the way, so that
// most values need no second reading of the text.
struct NumberScan {
    enum class Last : std::uint8_t { Minus, Digit, Point, Exponent, ExponentSign };
    enum class Step : std::uint8_t { Taken, Ended, Refused };

    explicit NumberScan(int first)
        : last(first == '-' ? Last::Minus : Last::Digit),
          zero(first == '0'),
          negative(first == '-'),
          mantissa(negative ? 0 : static_cast<std::uint64_t>(first - '0')),
          digits(negative ? 0 : 1) {}

    // The rest of an integer part that starts with 1 to 9, the usual case: the position
    // after its last digit.
    int integerRun(std::string_view text, int at) {
        const int size = static_cast<int>(text.size());
        for (; at < size && isDigit(static_cast<unsigned char>(text[at])); ++at) {
            mantissa = mantissa * 10 + static_cast<std::uint64_t>(text[at] - '0');
            ++digits;
        }
        return at;
    }

    Step take(int c) {
        if (isDigit(c)) {
            if (zero && !point) return Step::Refused;
            if (c != '0') {
                zero = false;
            } else if (last == Last::Minus) {
                zero = true;
            }
            last = Last::Digit;
            addDigit(c - '0');
        } else if (c == '.') {
            if (last == Last::Minus || point) return Step::Refused;
            irregular = irregular || exponent;
            point = true;
            last = Last::Point;
        } else if (c == 'e' || c == 'E') {
            if (last == Last::Minus || zero || exponent) return Step::Refused;
            exponent = true;
            last = Last::Exponent;
        } else if (c == '+' || c == '-') {
            if (!exponent || exponentSign) return Step::Refused;
            irregular = irregular || last == Last::Digit;
            exponentSign = true;
            exponentNegative = c == '-';
            last = Last::ExponentSign;
        } else {
            return last == Last::Digit ? Step::Ended : Step::Refused;
        }
        return Step::Taken;
    }

    void addDigit(int d) {
        if (exponent) {
            if (exponentValue < 100000) exponentValue = exponentValue * 10 + d;
        } else {
            mantissa = mantissa * 10 + static_cast<std::uint64_t>(d);
            ++digits;
            if (point) ++fraction;
        }
    }

    // The value of the accepted text: an Int when the number is one, else a Float.
    Dynamic value(std::string_view text) const {
        // Plain integers of up to nine digits are exact as Ints; skip the float round trip.
        if (!point && !exponent && digits <= 9) {
            auto integer = static_cast<std::int32_t>(mantissa);
            return Dynamic(negative ? -integer : integer);
        }
        double f = 0;
        int scale = (exponentNegative ? -exponentValue : exponentValue) - fraction;
        if (!irregular && digits <= 15 && scale >= -22 && scale <= 22) {
            // Both the digits and the power of ten are exact doubles, so one multiplication
            // or division rounds once, correctly.
            static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
            f = static_cast<double>(mantissa);
            f = scale >= 0 ? f * kPowers[scale] : f / kPowers[-scale];
            if (negative) f = -f;
        } else {
            f = Std::parseFloat(text);
        }
        std::int32_t i = Std::toInt(f);
        if (static_cast<double>(i) == f) return Dynamic(i);
        return Dynamic(f);
    }

    Last last;
    bool zero;  // the integer part is a single 0, and no digit 1 to 9 has come since
    bool point = false;
    bool exponent = false;
    bool exponentSign = false;
    // A point or a sign let through after the exponent's marker or first digit ("1e.5",
    // "1e5+3"): the value is then that of the longest decimal prefix, which only the
    // decimal reader finds.
    bool irregular = false;
    bool negative;
    std::uint64_t mantissa;  // the digits before the exponent, as one integer
    int digits;
    int fraction = 0;  // how many of those digits follow the point
    int exponentValue = 0;
    bool exponentNegative = false;
};

}  // namespace

JsonParser::JsonParser(std::string_view str) : str(str) {
    // Room for the members of a typical answer, so the stacks rarely grow.
    values_.reserve(64);
    keys_.reserve(64);
}

runtime::Arena* JsonParser::arena() {
    // A short answer gets a first block near its own size rather than a full one, which a
    // caller keeping many small documents would pay for.
    if (!arena_.get()) arena_ = runtime::Arena::create(std::max<std::size_t>(1024, str.size() * 4));
    return arena_.get();
}

std::string_view JsonParser::keep(std::string_view text) {
    if (text.empty()) return {};
    auto* at = static_cast<char*>(arena()->take(text.size(), 1));
    std::memcpy(at, text.data(), text.size());
    return {at, text.size()};
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
                if (key.data() == scratch_.data()) key = keep(key);
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
                arr.asArray().assign(std::span(values_).subspan(base));
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
    const int start = pos - 1;
    NumberScan scan(first);
    if (scan.last == NumberScan::Last::Digit && !scan.zero) pos = scan.integerRun(str, pos);
    for (;;) {
        switch (scan.take(nextChar())) {
            case NumberScan::Step::Taken: break;
            case NumberScan::Step::Refused: invalidNumber(start);
            case NumberScan::Step::Ended:
                --pos;
                return scan.value(str.substr(start, pos - start));
        }
    }
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
            char hex[6] = {'0', 'x'};
            std::size_t length = 2;
            for (int i = pos; i < pos + 4 && i < static_cast<int>(str.size()); ++i) hex[length++] = str[i];
            pos += 4;
            // Each escape on its own: a surrogate pair becomes two 3-byte sequences.
            StringTools::appendUtf8(scratch_,
                                    static_cast<std::uint32_t>(Std::parseInt(std::string_view(hex, length)).value_or(0)));
            break;
        }
        default:
            throw runtime::ThrownMessage("Invalid escape sequence \\" + std::string(1, static_cast<char>(c)) +
                                         " at position " + std::to_string(pos - 1));
    }
}

}  // namespace lumo::format
