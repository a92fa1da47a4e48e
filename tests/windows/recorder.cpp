// A child program for the Windows tests, copied under the name it plays (youtube-dl.exe,
// player.exe, echo.exe). Files beside it named after it steer it and keep what it saw:
//   NAME.args      written: its arguments as CommandLineToArgvW splits them, in UTF-8,
//                  each ended by a NUL
//   NAME.err-bytes read: that many bytes go to its standard error first
//   NAME.out       read: copied to its standard output
//   NAME.best      read: copied instead of NAME.out when its arguments end in "-f best"
//   NAME.linger    present: after 0.5 s it writes to both outputs (which may be closed
//                  by then) and only then creates NAME.alive
#include <windows.h>

#include <shellapi.h>

#include <string>

namespace {

std::string utf8(const wchar_t* text) {
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

HANDLE openFile(const std::wstring& path, bool write) {
    return ::CreateFileW(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ, nullptr,
                         write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool readFile(const std::wstring& path, std::string& text) {
    HANDLE f = openFile(path, false);
    if (f == INVALID_HANDLE_VALUE) return false;
    char buf[4096];
    DWORD n = 0;
    while (::ReadFile(f, buf, sizeof buf, &n, nullptr) && n > 0) text.append(buf, n);
    ::CloseHandle(f);
    return true;
}

void writeTo(HANDLE h, const std::string& text) {
    DWORD n = 0;
    for (std::size_t done = 0; done < text.size(); done += n) {
        if (!::WriteFile(h, text.data() + done, static_cast<DWORD>(text.size() - done), &n, nullptr) || n == 0) return;
    }
}

void writeFile(const std::wstring& path, const std::string& text) {
    HANDLE f = openFile(path, true);
    if (f == INVALID_HANDLE_VALUE) return;
    writeTo(f, text);
    ::CloseHandle(f);
}

}  // namespace

int main() {
    wchar_t self[32768];
    DWORD len = ::GetModuleFileNameW(nullptr, self, 32768);
    std::wstring stem(self, len);
    stem = stem.substr(0, stem.rfind(L'.'));

    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    std::string args;
    for (int i = 1; i < argc; ++i) args += utf8(argv[i]) + '\0';
    bool best = argc > 2 && utf8(argv[argc - 2]) == "-f" && utf8(argv[argc - 1]) == "best";
    ::LocalFree(argv);
    writeFile(stem + L".args", args);

    std::string text;
    if (readFile(stem + L".err-bytes", text)) {
        writeTo(::GetStdHandle(STD_ERROR_HANDLE), std::string(std::stoul(text), 'e'));
    }
    text.clear();
    if (!(best && readFile(stem + L".best", text))) readFile(stem + L".out", text);
    writeTo(::GetStdHandle(STD_OUTPUT_HANDLE), text);
    if (readFile(stem + L".linger", text)) {
        ::Sleep(500);
        writeTo(::GetStdHandle(STD_OUTPUT_HANDLE), "to-stdout\n");
        writeTo(::GetStdHandle(STD_ERROR_HANDLE), "to-stderr\n");
        writeFile(stem + L".alive", "");
    }
    return 0;
}
