#include "common/version_library.h"

#include "common/system_library.h"

namespace kes {

namespace {

INIT_ONCE versionLibraryOnce = INIT_ONCE_STATIC_INIT;
VersionLibrary versionLibrary;

BOOL CALLBACK loadVersionLibrary(PINIT_ONCE, PVOID, PVOID*) {
    const HMODULE module = loadSystemLibrary(L"version.dll");
    if (module == nullptr) {
        versionLibrary.loadError = GetLastError();
        return TRUE;
    }
    versionLibrary.sizeOf = lookUpFunction<decltype(versionLibrary.sizeOf)>(module, "GetFileVersionInfoSizeW");
    versionLibrary.read = lookUpFunction<decltype(versionLibrary.read)>(module, "GetFileVersionInfoW");
    versionLibrary.query = lookUpFunction<decltype(versionLibrary.query)>(module, "VerQueryValueW");
    if (versionLibrary.sizeOf == nullptr || versionLibrary.read == nullptr || versionLibrary.query == nullptr) {
        versionLibrary.loadError = ERROR_PROC_NOT_FOUND;
    }
    return TRUE;
}

}  // namespace

const VersionLibrary& systemVersionLibrary() {
    InitOnceExecuteOnce(&versionLibraryOnce, loadVersionLibrary, nullptr, nullptr);
    return versionLibrary;
}

}  // namespace kes
