#pragma once
// Byte ranges cross the seam as the caller's buffer (pointer and length) and the part of
// it that a call moves; each family decides what a part outside the buffer does.
#include <cstdint>

namespace native {

// True when pos and len are not negative and pos + len does not pass size.
inline bool isRange(int size, int pos, int len) {
    return pos >= 0 && len >= 0 && static_cast<std::int64_t>(pos) + len <= size;
}

}  // namespace native
