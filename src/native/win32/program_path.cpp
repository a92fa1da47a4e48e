#include "native/program_path.h"

#include <windows.h>

#include "native/win32/text.h"

namespace native {

std::optional<std::string> programPath() {
    wchar_t buf[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(nullptr, buf, MAX_PATH);
    if (n == 0) return std::nullopt;
    return wideToUtf8(std::wstring(buf, n));
}

}  // namespace native
