// Any input either parses into a value whose text can be built, or fails with a thrown
// message; nothing else (crash, sanitizer report, stack overflow) is acceptable.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "lumo/format/JsonParser.h"
#include "runtime/Thrown.h"
#include "util/Std.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        lumo::format::JsonParser parser(text);
        Std::string(parser.parseRec());
    } catch (const runtime::Thrown&) {
    }
    return 0;
}
