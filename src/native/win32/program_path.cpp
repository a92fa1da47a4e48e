#include "native/program_path.h"

#include <windows.h>

#include "native/win32/text.h"

namespace native {

std::optional<std::string> programPath() {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return std::nullopt;
        // A result that fills the buffer may have been cut: a cut path would name another
        // folder, so try a larger buffer (paths reach 32767 units).
        if (n < buf.size()) return wideToUtf8(buf.substr(0, n));
        if (buf.size() > 32768) return std::nullopt;
        buf.resize(buf.size() * 2);
    }
}

}  // namespace native
