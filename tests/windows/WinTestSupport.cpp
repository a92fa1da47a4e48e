#include "WinTestSupport.h"

#include <windows.h>

namespace wintest {

std::vector<std::string> nulSeparated(const std::string& text) {
    std::vector<std::string> items;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find('\0', from)) != std::string::npos; from = at + 1) {
        items.push_back(text.substr(from, at - from));
    }
    return items;
}

std::filesystem::path programFolder() {
    std::wstring self(32768, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    return std::filesystem::path(self).parent_path();
}

}  // namespace wintest
