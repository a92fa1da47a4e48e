#pragma once
// The one UTF-8 encoder: the Win32 layer's wide text and the parsers' character
// references both end in it.
#include <string>

namespace runtime {

// Appends a code point (at most 0x10FFFF) as 1 to 4 bytes; a lone surrogate is encoded as
// it stands, in three.
void appendUtf8(std::string& out, char32_t code);

}  // namespace runtime
