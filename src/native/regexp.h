#pragma once
// Compiled regular expressions ("pcredata") over PCRE 8.x.
#include <memory>
#include <optional>
#include <string>

namespace native {

struct RegexpHandle;
using RegexpRef = std::shared_ptr<RegexpHandle>;

// Options: i caseless, m multiline, s dot-all, u UTF-8 (EReg takes its g, global, away
// first). Another letter gives null without compiling. A bad pattern throws "Regexp
// compilation error : MESSAGE in PATTERN". The pattern ends at its first NUL, as PCRE
// reads it.
RegexpRef regexp_new_options(const std::string& pattern, const std::string& options);
// Searches subject[pos .. pos+len) from pos; false at once for a range outside subject.
// A search that exceeds the bounds on backtracking or on PCRE's recursion depth counts as
// no match, like any other PCRE failure.
bool regexp_match(RegexpHandle& r, const std::string& subject, int pos, int len);
// Group n of the last match; absent when the group took no part. Throws "regexp_matched
// - no valid match" for a group out of range or when there is no last match.
std::optional<std::string> regexp_matched(const RegexpHandle& r, int n);
struct MatchedPos {
    int pos;
    int len;
};
// Start and length of group n; absent for a group out of range or no last match.
std::optional<MatchedPos> regexp_matched_pos(const RegexpHandle& r, int n);

}  // namespace native
