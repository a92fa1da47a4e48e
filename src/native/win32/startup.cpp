#include "native/startup.h"

#include <windows.h>

#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>

#include "native/win32/procedure.h"
#include "native/win32/text.h"

namespace native {

namespace {

bool hasPlatformHandle(FILE* stream) {
    int fd = _fileno(stream);
    return fd >= 0 && _get_osfhandle(fd) != -1 && _get_osfhandle(fd) != -2;
}

// A program started from a console shell writes to that console even when it was built
// as a GUI program or its streams were not handed over.
void attachParentConsole() {
    using AttachConsoleFn = BOOL(WINAPI*)(DWORD);
    using GetConsoleWindowFn = HWND(WINAPI*)();
    auto attach = win32::procedure<AttachConsoleFn>("kernel32", "AttachConsole");
    auto window = win32::procedure<GetConsoleWindowFn>("kernel32", "GetConsoleWindow");
    if (attach == nullptr || window == nullptr) return;
    attach(ATTACH_PARENT_PROCESS);
    if (window() == nullptr) return;
    if (!hasPlatformHandle(stdout)) std::freopen("CONOUT$", "w", stdout);
    if (!hasPlatformHandle(stderr)) std::freopen("CONOUT$", "w", stderr);
    if (!hasPlatformHandle(stdin)) std::freopen("CONIN$", "r", stdin);
}

}  // namespace

void bootPlatform() {
    attachParentConsole();
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
}

// Split as CommandLineToArgvW splits, the rule our own command lines are built for.
std::vector<std::string> programArguments(int argc, const char* const* argv) {
    int count = 0;
    std::unique_ptr<LPWSTR, decltype(&::LocalFree)> wide(::CommandLineToArgvW(::GetCommandLineW(), &count),
                                                          &::LocalFree);
    if (!wide) return {argv, argv + argc};
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) args.push_back(wideToUtf8(wide.get()[i]));
    return args;
}

}  // namespace native
