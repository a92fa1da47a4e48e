#include "util/EReg.h"

#include "native/regexp.h"
#include "runtime/Thrown.h"
#include "util/StringTools.h"

EReg::EReg(const std::string& r, const std::string& opt) {
    auto pieces = StringTools::split(opt, "g");
    global = pieces.size() > 1;
    r_ = native::regexp_new_options(r, StringTools::join(pieces, ""));
}

bool EReg::match(const std::string& s) {
    if (!r_) throw runtime::ThrownMessage("Regexp options not accepted");
    return native::regexp_match(*r_, s, 0, static_cast<int>(s.size()));
}

std::optional<std::string> EReg::matched(int n) {
    if (!r_) throw runtime::ThrownMessage("regexp_matched - no valid match");
    return native::regexp_matched(*r_, n);
}

std::optional<EReg::MatchedPos> EReg::matchedPos() {
    if (!r_) return std::nullopt;
    std::optional<native::MatchedPos> m = native::regexp_matched_pos(*r_, 0);
    if (!m) return std::nullopt;
    return MatchedPos{m->pos, m->len};
}
