#include "common/encoding.h"

#include <windows.h>

namespace kes {

namespace {
constexpr UINT kUtf8 = CP_UTF8;
}

std::wstring utf8ToWide(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    // Length -1: the platform reads up to the first NUL and counts it too.
    const int n = MultiByteToWideChar(kUtf8, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 0) {
        return {};
    }
    std::wstring result(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(kUtf8, 0, text.c_str(), -1, result.data(), n);
    result.resize(static_cast<std::size_t>(n) - 1);
    return result;
}

std::wstring utf8ToWideStrict(const std::string& text) {
    // A zero length makes the sizing call fail, so an empty input needs no test.
    const int length = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(kUtf8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (n <= 0) {
        return {};
    }
    std::wstring result(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(kUtf8, MB_ERR_INVALID_CHARS, text.data(), length, result.data(), n);
    return result;
}

std::string wideToUtf8(const wchar_t* units, std::size_t count) {
    if (units == nullptr || count == 0) {
        return {};
    }
    const int length = static_cast<int>(count);
    const int m = WideCharToMultiByte(kUtf8, 0, units, length, nullptr, 0, nullptr, nullptr);
    if (m <= 0) {
        return {};
    }
    std::string result(static_cast<std::size_t>(m), '\0');
    WideCharToMultiByte(kUtf8, 0, units, length, result.data(), m, nullptr, nullptr);
    return result;
}

}  // namespace kes
