// The platform's version library, reached from the system folder.
#pragma once

#include <windows.h>

namespace kes {

// Looked up at run time rather than imported: version.dll is not one of the
// system's Known DLLs, so an imported one would be taken from the folder of
// whichever program imports it, where anyone who can write to a game folder
// can plant one.
struct VersionLibrary {
    decltype(&GetFileVersionInfoSizeW) sizeOf = nullptr;
    decltype(&GetFileVersionInfoW) read = nullptr;
    decltype(&VerQueryValueW) query = nullptr;
    DWORD loadError = ERROR_SUCCESS;  // otherwise the functions are null
};

// Loaded at the first call, once for the life of the process.
const VersionLibrary& systemVersionLibrary();

}  // namespace kes
