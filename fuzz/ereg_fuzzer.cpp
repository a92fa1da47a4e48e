// Input: one byte of option bits, then the pattern up to the first line feed, then the
// subject. Every group of a match is read back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/Thrown.h"
#include "util/EReg.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::string options;
    const char letters[] = {'i', 'm', 's', 'u', 'g'};
    for (int bit = 0; bit < 5; ++bit) {
        if (data[0] & (1 << bit)) options += letters[bit];
    }
    std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::size_t split = rest.find('\n');
    std::string pattern = rest.substr(0, split);
    std::string subject = split == std::string::npos ? std::string() : rest.substr(split + 1);
    try {
        EReg r(pattern, options);
        if (r.match(subject)) {
            r.matchedPos();
            for (int n = 0;; ++n) r.matched(n);  // ends with the out-of-range error
        }
    } catch (const runtime::Thrown&) {
    }
    return 0;
}
