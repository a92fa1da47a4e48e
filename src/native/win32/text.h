#pragma once
// UTF-8 and UTF-16 at the Win32 boundary.
#include <string>

namespace native {

// Each character as UTF-8; a surrogate without its partner is encoded as it stands.
std::string wideToUtf8(const std::wstring& text);
// Invalid UTF-8 becomes U+FFFD.
std::wstring utf8ToWide(const std::string& text);

}  // namespace native
