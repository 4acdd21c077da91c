#include "common/version_info.h"

#include <windows.h>

#include <cstdint>
#include <vector>

#include "common/encoding.h"
#include "common/system_library.h"

namespace kes {

namespace {

constexpr UINT kFixedFileInfoSize = 52;

// The string table is fixed at US English / Windows-1252; the translation
// list is not consulted, so a table under any other pair is not seen.
constexpr wchar_t kLauncherIdQuery[] = L"\\StringFileInfo\\040904E4\\KesLauncherID";

// VerQueryValueW reports the length that the resource claims. A corrupted
// resource can claim more than the buffer holds, so never index past it.
UINT clampToBuffer(const std::vector<unsigned char>& buffer, const wchar_t* value, UINT count) {
    const auto begin = reinterpret_cast<std::uintptr_t>(buffer.data());
    const auto end = begin + buffer.size();
    const auto at = reinterpret_cast<std::uintptr_t>(value);
    if (at < begin || at >= end) {
        return 0;
    }
    const std::uintptr_t available = (end - at) / sizeof(wchar_t);
    return count < available ? count : static_cast<UINT>(available);
}

// The version library is looked up at run time, once, rather than imported:
// it is not one of the system's Known DLLs, so an imported version.dll would
// be taken from the folder of whichever program links this reader.
struct VersionLibrary {
    decltype(&GetFileVersionInfoSizeW) sizeOf = nullptr;
    decltype(&GetFileVersionInfoW) read = nullptr;
    decltype(&VerQueryValueW) query = nullptr;
    DWORD loadError = ERROR_SUCCESS;
};

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

const VersionLibrary& systemVersionLibrary() {
    InitOnceExecuteOnce(&versionLibraryOnce, loadVersionLibrary, nullptr, nullptr);
    return versionLibrary;
}

}  // namespace

unsigned long versionLibraryLoadError() {
    return systemVersionLibrary().loadError;
}

LauncherVersionInfo readLauncherVersionInfo(const std::string& path) {
    LauncherVersionInfo info;
    const VersionLibrary& version = systemVersionLibrary();
    if (version.loadError != ERROR_SUCCESS) {
        return info;
    }
    const std::wstring widePath = utf8ToWide(path);

    const DWORD size = version.sizeOf(widePath.c_str(), nullptr);
    if (size == 0) {
        return info;
    }
    std::vector<unsigned char> buffer(size, 0);
    if (!version.read(widePath.c_str(), 0, size, buffer.data())) {
        return info;
    }

    void* fixedPointer = nullptr;
    UINT fixedLength = 0;
    if (!version.query(buffer.data(), L"\\", &fixedPointer, &fixedLength) ||
        fixedPointer == nullptr || fixedLength < kFixedFileInfoSize) {
        return info;
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(fixedPointer);
    info.valid = true;
    info.major = HIWORD(fixed->dwFileVersionMS);
    info.minor = LOWORD(fixed->dwFileVersionMS);
    info.build = HIWORD(fixed->dwFileVersionLS);
    info.revision = LOWORD(fixed->dwFileVersionLS);
    info.packed = packVersion(info.major, info.minor, info.build, info.revision);

    void* idPointer = nullptr;
    UINT idCount = 0;
    if (!version.query(buffer.data(), kLauncherIdQuery, &idPointer, &idCount) ||
        idPointer == nullptr || idCount == 0) {
        return info;
    }
    const auto* id = static_cast<const wchar_t*>(idPointer);
    UINT n = clampToBuffer(buffer, id, idCount);
    // Values are usually stored with their terminating NUL; drop exactly one.
    if (n > 0 && id[n - 1] == L'\0') {
        --n;
    }
    info.launcherId = wideToUtf8(id, n);
    return info;
}

}  // namespace kes
