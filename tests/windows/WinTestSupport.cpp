#include "WinTestSupport.h"

#include <windows.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace wintest {

TempDir::TempDir() {
    auto base = std::filesystem::temp_directory_path();
    for (unsigned attempt = ::GetTickCount(); ; ++attempt) {
        path_ = base / (L"streamlaunch test \u00e9\u2713 " + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                        std::to_wstring(attempt));
        if (std::filesystem::create_directory(path_)) return;
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::file(const std::string& name) const { return utf8(path_ / pathOf(name)); }

std::string utf8(const std::filesystem::path& path) {
    const std::wstring& wide = path.native();
    int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::filesystem::path pathOf(const std::string& text) {
    int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

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
