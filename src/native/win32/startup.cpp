#include "native/startup.h"

#include <windows.h>
#include <io.h>

#include <cstdio>

namespace native {

namespace {

using AttachConsoleFn = BOOL(WINAPI*)(DWORD);
using GetConsoleWindowFn = HWND(WINAPI*)();

bool hasPlatformHandle(FILE* stream) {
    int fd = _fileno(stream);
    return fd >= 0 && _get_osfhandle(fd) != -1 && _get_osfhandle(fd) != -2;
}

// A program started from a console shell writes to that console even when it was built
// as a GUI program or its streams were not handed over.
void attachParentConsole() {
    HMODULE kernel = ::LoadLibraryA("kernel32");
    if (kernel == nullptr) return;
    auto attach = reinterpret_cast<AttachConsoleFn>(::GetProcAddress(kernel, "AttachConsole"));
    auto window = reinterpret_cast<GetConsoleWindowFn>(::GetProcAddress(kernel, "GetConsoleWindow"));
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

}  // namespace native
