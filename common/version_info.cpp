#include "common/version_info.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <utility>

#include "common/encoding.h"
#include "common/version_library.h"
#include "kestrelwood/launcher_family_id.h"

namespace kes {

namespace {

constexpr UINT kFixedFileInfoSize = 52;

// Wine's VerQueryValueW follows the lengths that the block's nodes claim,
// each up to 64 KiB past the node it starts from, without checking them
// against the block; on a damaged block it then reads past the end and, with
// the wrong neighbour in memory, faults. The block is read into a buffer with
// this much room behind it, which covers the deepest query made here (root,
// StringFileInfo, table, key, each a node's length further on).
constexpr std::size_t kQueryOverrun = 4 * 65536;

// A version block's length is a 16-bit count, and the platform reports at
// most about twice that (it keeps room for a converted copy). A size above
// this is no version block, and is never allocated.
constexpr DWORD kLargestVersionInfo = 4 * 65536;

// The string table is fixed at US English / Windows-1252; the translation
// list is not consulted, so a table under any other pair is not seen.
constexpr wchar_t kLauncherIdQuery[] = L"\\StringFileInfo\\" KES_VERSION_STRING_TABLE "\\" KES_LAUNCHER_ID_KEY;

}  // namespace

VersionBlock readVersionBlock(const std::string& path) {
    VersionBlock block;
    const VersionLibrary& version = systemVersionLibrary();
    if (version.loadError != ERROR_SUCCESS) {
        return block;
    }
    const std::wstring widePath = utf8ToWide(path);
    const DWORD size = version.sizeOf(widePath.c_str(), nullptr);
    if (size == 0 || size > kLargestVersionInfo) {
        return block;
    }
    // Not cleared: the room behind the block costs no more than its address
    // range until an overrun reads it. The sum is taken in size_t, of a
    // bounded size: it cannot wrap.
    block.bytes.reset(new unsigned char[std::size_t{size} + kQueryOverrun]);
    if (!version.read(widePath.c_str(), 0, size, block.bytes.get())) {
        block.bytes.reset();
        return block;
    }
    block.size = size;
    return block;
}

OwnVersionBlock readOwnVersionBlock() {
    return readModuleVersionBlock(GetModuleHandleW(nullptr));
}

OwnVersionBlock readModuleVersionBlock(void* module) {
    OwnVersionBlock own;
    const auto image = static_cast<HMODULE>(module);
    const HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16));
    const HGLOBAL loaded = found != nullptr ? LoadResource(image, found) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    const DWORD size = data != nullptr ? SizeofResource(image, found) : 0;
    if (size == 0) {
        own.error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_RESOURCE_DATA_NOT_FOUND;
        return own;
    }
    // A block's length is a 16-bit count, so nothing past the bound belongs
    // to it; the copy is writable, as the platform's queries expect, and has
    // the same room behind it as a block read from a file.
    const std::size_t kept = size < kLargestVersionInfo ? size : kLargestVersionInfo;
    own.block.bytes.reset(new unsigned char[kept + kQueryOverrun]);
    std::memcpy(own.block.bytes.get(), data, kept);
    own.block.size = kept;
    return own;
}

VersionBlock readHeldVersionBlock(void* file) {
    // Mapped as data, as LoadLibraryExW maps a file for its resources alone
    // (whatever machine it is built for): the resource calls take such a view
    // with its lowest address bit set, and find its data through the section
    // table.
    const HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    void* view = mapping != nullptr ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
    OwnVersionBlock read;
    if (view != nullptr) {
        read = readModuleVersionBlock(reinterpret_cast<void*>(reinterpret_cast<ULONG_PTR>(view) | 1));
        UnmapViewOfFile(view);
    }
    if (mapping != nullptr) {
        CloseHandle(mapping);
    }
    return std::move(read.block);
}

const void* findVersionValue(const VersionBlock& block, const wchar_t* query, std::size_t unitSize, unsigned& count) {
    void* value = nullptr;
    UINT claimed = 0;
    count = 0;
    // A block from the program's own image is there even when the platform's
    // version library could not be loaded; without it nothing can be found.
    const VersionLibrary& version = systemVersionLibrary();
    if (block.size == 0 || version.query == nullptr || !version.query(block.bytes.get(), query, &value, &claimed) ||
        value == nullptr) {
        return nullptr;
    }
    // VerQueryValueW reports the length that the resource claims. A corrupted
    // resource can claim more than the block holds, so never index past it.
    const auto begin = reinterpret_cast<std::uintptr_t>(block.bytes.get());
    const auto end = begin + block.size;
    const auto at = reinterpret_cast<std::uintptr_t>(value);
    if (at < begin || at >= end) {
        return nullptr;
    }
    const std::uintptr_t available = (end - at) / unitSize;
    count = claimed < available ? claimed : static_cast<unsigned>(available);
    return value;
}

LauncherVersionInfo readLauncherVersionInfo(const std::string& path) {
    return launcherVersionInfoOf(readVersionBlock(path));
}

LauncherVersionInfo launcherVersionInfoOf(const VersionBlock& block) {
    LauncherVersionInfo info;
    unsigned fixedLength = 0;
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(findVersionValue(block, L"\\", 1, fixedLength));
    if (fixed == nullptr || fixedLength < kFixedFileInfoSize) {
        return info;
    }
    info.valid = true;
    info.major = HIWORD(fixed->dwFileVersionMS);
    info.minor = LOWORD(fixed->dwFileVersionMS);
    info.build = HIWORD(fixed->dwFileVersionLS);
    info.revision = LOWORD(fixed->dwFileVersionLS);
    info.packed = packVersion(info.major, info.minor, info.build, info.revision);

    unsigned n = 0;
    const auto* id = static_cast<const wchar_t*>(findVersionValue(block, kLauncherIdQuery, sizeof(wchar_t), n));
    // Values are usually stored with their terminating NUL; drop exactly one.
    if (n > 0 && id[n - 1] == L'\0') {
        --n;
    }
    info.launcherId = wideToUtf8(id, n);
    return info;
}

}  // namespace kes
