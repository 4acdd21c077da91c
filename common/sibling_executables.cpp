#include "common/sibling_executables.h"

#include <windows.h>

#include <cwchar>

#include "common/encoding.h"
#include "common/win_owners.h"

namespace kes {

namespace {
constexpr DWORD kSelfPathCapacity = 260;
}

std::string getSelfPath() {
    wchar_t buffer[kSelfPathCapacity];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, kSelfPathCapacity);
    // n == capacity means the path was cut off; a cut path names another file.
    if (n < 1 || n >= kSelfPathCapacity) {
        return {};
    }
    buffer[n] = L'\0';
    return wideToUtf8(buffer, n);
}

std::string parentDirectory(const std::string& path) {
    const std::size_t last = path.find_last_of("\\/");
    if (last == std::string::npos) {
        return ".";
    }
    return path.substr(0, last);
}

std::vector<std::string> listSiblingExecutables(const std::string& folder) {
    std::vector<std::string> siblings;
    const std::wstring pattern = utf8ToWide(folder + "\\*.exe");

    WIN32_FIND_DATAW entry;
    UniqueFind search = makeUniqueFind(FindFirstFileW(pattern.c_str(), &entry));
    if (!search) {
        return siblings;
    }
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            continue;
        }
        const std::size_t nameLength = wcsnlen(entry.cFileName, MAX_PATH);
        siblings.push_back(folder + "\\" + wideToUtf8(entry.cFileName, nameLength));
    } while (FindNextFileW(search.get(), &entry));
    return siblings;
}

}  // namespace kes
