#pragma once
// UTF-8 and UTF-16 at the Win32 boundary.
#include <string>

namespace native {

// Each UTF-16 unit on its own: below 128 one byte, below 2048 two, else three.
std::string wideToUtf8(const std::wstring& text);
std::wstring utf8ToWide(const std::string& text);

}  // namespace native
