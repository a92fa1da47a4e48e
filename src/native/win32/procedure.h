#pragma once
// Functions looked up at run time, for what older Windows systems lack.
#include <windows.h>

namespace native::win32 {

// The function `name` of the system library `library` as type Function; null when either
// is missing. The library stays loaded for the life of the process.
template <typename Function>
Function procedure(const char* library, const char* name) {
    HMODULE module = ::LoadLibraryA(library);
    if (module == nullptr) return nullptr;
    // Through void*: FARPROC and Function are unrelated function types.
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace native::win32
