#include "native/regexp.h"

#include <pcre.h>

#include <vector>

#include "runtime/Thrown.h"

namespace native {

// Bounds on one search. Backtracking can take exponential time, and PCRE recurses on the
// stack once per nested step: past these limits a search ends as "no match" instead of
// hanging or overflowing the stack. Ample for the addresses and header lines matched here.
constexpr unsigned long kMatchLimit = 1'000'000;
constexpr unsigned long kRecursionLimit = 5'000;

struct RegexpHandle {
    struct Free {
        void operator()(pcre* p) const { pcre_free(p); }
    };
    std::unique_ptr<pcre, Free> pattern;
    pcre_extra limits{};
    int slots = 0;                 // capture groups + 1 (the whole match)
    std::vector<int> offsets;      // 3 per slot, as PCRE wants
    std::optional<std::string> subject;  // of the last successful match
};

RegexpRef regexp_new_options(const std::string& pattern, const std::string& options) {
    int flags = 0;
    for (char o : options) {
        switch (o) {
            case 'i': flags |= PCRE_CASELESS; break;
            case 'm': flags |= PCRE_MULTILINE; break;
            case 's': flags |= PCRE_DOTALL; break;
            case 'u': flags |= PCRE_UTF8; break;
            default: return nullptr;
        }
    }
    const char* error = nullptr;
    int errorOffset = 0;
    auto handle = std::make_shared<RegexpHandle>();
    handle->pattern.reset(pcre_compile(pattern.c_str(), flags, &error, &errorOffset, nullptr));
    if (!handle->pattern) {
        throw runtime::ThrownMessage("Regexp compilation error : " + std::string(error ? error : "") + " in " +
                                     pattern.c_str());
    }
    handle->limits.flags = PCRE_EXTRA_MATCH_LIMIT | PCRE_EXTRA_MATCH_LIMIT_RECURSION;
    handle->limits.match_limit = kMatchLimit;
    handle->limits.match_limit_recursion = kRecursionLimit;
    int captures = 0;
    pcre_fullinfo(handle->pattern.get(), nullptr, PCRE_INFO_CAPTURECOUNT, &captures);
    handle->slots = captures + 1;
    handle->offsets.assign(static_cast<std::size_t>(handle->slots) * 3, -1);
    return handle;
}

bool regexp_match(RegexpHandle& r, const std::string& subject, int pos, int len) {
    auto size = static_cast<long long>(subject.size());
    if (pos < 0 || len < 0 || pos > size || static_cast<long long>(pos) + len > size) return false;
    int rc = pcre_exec(r.pattern.get(), &r.limits, subject.data(), pos + len, pos, 0, r.offsets.data(),
                       static_cast<int>(r.offsets.size()));
    if (rc >= 0) {
        r.subject = subject;
        return true;
    }
    r.subject.reset();
    return false;
}

std::optional<std::string> regexp_matched(const RegexpHandle& r, int n) {
    if (n < 0 || n >= r.slots || !r.subject) throw runtime::ThrownMessage("regexp_matched - no valid match");
    int start = r.offsets[2 * n];
    if (start == -1) return std::nullopt;
    return r.subject->substr(start, r.offsets[2 * n + 1] - start);
}

std::optional<MatchedPos> regexp_matched_pos(const RegexpHandle& r, int n) {
    if (n < 0 || n >= r.slots || !r.subject) return std::nullopt;
    int start = r.offsets[2 * n];
    return MatchedPos{start, r.offsets[2 * n + 1] - start};
}

}  // namespace native
