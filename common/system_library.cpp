#include "common/system_library.h"

#include <cwchar>

namespace kes {

HMODULE loadSystemLibrary(const wchar_t* fileName) {
    HMODULE module = LoadLibraryExW(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr) {
        return module;
    }
    // A system without the search flags refuses it with
    // ERROR_INVALID_PARAMETER. The full path of the system folder's copy then
    // names the same file; the altered search path makes the DLLs it imports
    // in turn be looked for beside it, in the system folder, first.
    wchar_t path[MAX_PATH];
    const UINT folderLength = GetSystemDirectoryW(path, MAX_PATH);
    const std::size_t nameLength = std::wcslen(fileName);
    // Either way the last error stays the one of the first attempt.
    if (folderLength == 0 || folderLength + 1 + nameLength >= MAX_PATH) {
        return nullptr;
    }
    path[folderLength] = L'\\';
    std::wmemcpy(path + folderLength + 1, fileName, nameLength + 1);
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

namespace {

BOOL CALLBACK resolveOnce(PINIT_ONCE, PVOID parameter, PVOID*) {
    auto& function = *static_cast<SystemFunction*>(parameter);
    const HMODULE module = loadSystemLibrary(function.dll);
    function.address = module != nullptr ? reinterpret_cast<void*>(GetProcAddress(module, function.name)) : nullptr;
    if (function.address == nullptr) {
        function.error = GetLastError();
    }
    return TRUE;
}

}  // namespace

void* resolveSystemFunction(SystemFunction& function) {
    InitOnceExecuteOnce(&function.once, resolveOnce, &function, nullptr);
    return function.address;
}

}  // namespace kes
