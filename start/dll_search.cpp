#include "start/dll_search.h"

#include <windows.h>

#include "common/system_library.h"

namespace kes {

void restrictDllSearchToSystem32() {
    // user32 and shell32 are loaded at run time, so they (and the DLLs they
    // import in turn) are first loaded after this call, from System32 only.
    // The call is looked up rather than imported, so that the program still
    // starts on a system too old to have it.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories =
        lookUpFunction<SetDefaultDllDirectoriesFn>(GetModuleHandleW(kKernel32), "SetDefaultDllDirectories");
    if (setDefaultDllDirectories != nullptr) {
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}

}  // namespace kes
