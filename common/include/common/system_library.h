// Reaching a DLL of the system folder without importing it.
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

}  // namespace kes
