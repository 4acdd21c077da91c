// Reaching a DLL of the system folder without importing it. The start
// program, the DLLs and the static libraries reach user32, shell32 and
// version.dll this one way, never through an import or a delay-load import:
// Wine's user32 imports version.dll by name, so an import would load a
// version.dll planted in the game folder before the program's first line.
#pragma once

#include <windows.h>

namespace kes {

// Always loaded in every process; its functions that older systems lack are
// looked up in it by name.
inline constexpr wchar_t kKernel32[] = L"kernel32.dll";

// Loads a DLL by its file name from the system folder only: never from the
// program's folder, the current folder or PATH, where a copy planted by anyone
// who can write to a game folder would win for a DLL that is not one of the
// system's Known DLLs. The process's DLL search settings stay as they are, so
// code running inside someone else's process may use it. Null, with the last
// error set, when the DLL cannot be loaded. The module stays loaded.
HMODULE loadSystemLibrary(const wchar_t* fileName);

// GetProcAddress, typed as the function it finds; null when there is none.
template <typename Function>
Function lookUpFunction(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// One function of a system DLL, loaded with loadSystemLibrary and looked up
// at its first use, then kept for the life of the process. Defined at
// namespace scope, it is initialised before any code runs:
//
//   SystemFunction charLowerBuff{L"user32.dll", "CharLowerBuffW"};
struct SystemFunction {
    const wchar_t* dll;
    const char* name;
    INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    void* address = nullptr;
    DWORD error = ERROR_SUCCESS;  // why address is null
};

void* resolveSystemFunction(SystemFunction& function);

// The function typed as it is declared; null when the DLL cannot be loaded
// or lacks it (function.error says why).
template <typename Function>
Function systemFunction(SystemFunction& function) {
    return reinterpret_cast<Function>(resolveSystemFunction(function));
}

}  // namespace kes
