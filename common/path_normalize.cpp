#include "common/path_compare.h"

#include <windows.h>

#include <cwchar>

#include "common/system_library.h"

namespace kes {

namespace {

constexpr DWORD kWorkCapacity = 32768;

SystemFunction charLowerBuff{L"user32.dll", "CharLowerBuffW"};

// Both platform calls report a count that must lie in 1..32767: 0 is failure,
// and anything above means the buffer was too small (or, for the expansion,
// that the text filled it completely).
bool countFits(DWORD count) {
    return count - 1u < kWorkCapacity - 1u;
}

}  // namespace

std::wstring normalizePathForCompare(const std::wstring& path) {
    if (path.empty()) {
        return {};
    }
    // The expansion works on a counted string of at most 32766 units. Windows
    // refuses a longer input; Wine silently cuts it and reports success, which
    // would make two different long paths normalise to one text. Refuse it here
    // so both platforms give the same empty result. (The input is read up to
    // its first NUL unit, as the expansion reads it.)
    if (wcsnlen(path.c_str(), kWorkCapacity) > kWorkCapacity - 2) {
        return {};
    }
    // 128 KiB of working text on the stack keeps the only allocation the result.
    wchar_t expanded[kWorkCapacity];
    const DWORD expandedCount = ExpandEnvironmentStringsW(path.c_str(), expanded, kWorkCapacity);
    if (!countFits(expandedCount)) {
        return {};
    }
    wchar_t full[kWorkCapacity];
    const DWORD fullLength = GetFullPathNameW(expanded, kWorkCapacity, full, nullptr);
    if (!countFits(fullLength)) {
        return {};
    }
    std::wstring normalized(full, fullLength);
    for (wchar_t& unit : normalized) {
        if (unit == L'/') {
            unit = L'\\';
        }
    }
    const auto lowerCase = systemFunction<decltype(&CharLowerBuffW)>(charLowerBuff);
    if (lowerCase == nullptr) {
        return {};
    }
    lowerCase(normalized.data(), static_cast<DWORD>(normalized.size()));
    return normalized;
}

}  // namespace kes
