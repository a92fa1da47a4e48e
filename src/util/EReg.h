#pragma once
// A regular expression and the state of its last match. Options: i caseless, m multiline,
// s dot-all, u UTF-8; g sets `global` and is not passed on.
#include <memory>
#include <optional>
#include <string>

namespace native {
struct RegexpHandle;  // the compiled pattern, behind the platform seam
}

class EReg {
public:
    // Throws "Regexp compilation error : ..." for a bad pattern. Unknown option letters
    // leave the object without a pattern; matching with it then throws.
    EReg(const std::string& r, const std::string& opt);

    // Searches the whole of s.
    bool match(const std::string& s);
    // Group n of the last match (0 = the whole match); absent when the group took no part.
    // Throws "regexp_matched - no valid match" without a last match or for a bad n.
    std::optional<std::string> matched(int n);
    struct MatchedPos {
        int pos;
        int len;
    };
    // The whole last match; absent when there is none.
    std::optional<MatchedPos> matchedPos();

    bool global = false;

private:
    std::shared_ptr<native::RegexpHandle> r_;  // keeps the subject of the last match
};
