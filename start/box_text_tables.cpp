// The box texts' string tables, read apart from boxText so that a start
// program without languages does not carry this code.
#include <cstddef>

#include "resource.h"
#include "start/box_text.h"

namespace kes {

namespace {

// In the order of BoxText.
constexpr unsigned kTextIds[] = {IDS_LAUNCHER_NOT_FOUND, IDS_NO_SIGNED_LAUNCHER, IDS_COULD_NOT_START,
                                 IDS_WINDOWS_ERROR};

// String N lives in block N / 16 + 1 of 16 strings, each a count of UTF-16
// units followed by the units, without a NUL. Each language's box texts are
// one such block.
constexpr unsigned kTextBlock = IDS_LAUNCHER_NOT_FOUND / 16 + 1;
static_assert(IDS_WINDOWS_ERROR / 16 + 1 == kTextBlock, "the box texts share one string table block");

BOOL CALLBACK addLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
    reinterpret_cast<std::vector<LANGID>*>(languages)->push_back(language);
    return TRUE;
}

}  // namespace

// The lookup names one of these languages exactly: what FindResourceExW
// does for a language that is not there differs between Windows versions.
std::vector<LANGID> boxTextTableLanguages(HMODULE module) {
    std::vector<LANGID> languages;
    if (!EnumResourceLanguagesW(module, RT_STRING, MAKEINTRESOURCEW(kTextBlock), addLanguage,
                                reinterpret_cast<LONG_PTR>(&languages))) {
        return {};
    }
    return languages;
}

// The counts are the file's: each is checked against the block's size
// before it is used.
std::wstring storedBoxText(HMODULE module, BoxText which, LANGID language) {
    const HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(kTextBlock), language);
    if (found == nullptr) {
        return {};
    }
    const HGLOBAL loaded = LoadResource(module, found);
    if (loaded == nullptr) {
        return {};
    }
    const auto* units = static_cast<const wchar_t*>(LockResource(loaded));
    if (units == nullptr) {
        return {};
    }
    const std::size_t total = SizeofResource(module, found) / sizeof(wchar_t);
    std::size_t at = 0;
    for (unsigned skipped = 0; skipped < kTextIds[static_cast<std::size_t>(which)] % 16; ++skipped) {
        if (at >= total) {
            return {};
        }
        at += 1 + static_cast<std::size_t>(units[at]);
    }
    if (at >= total || units[at] > total - at - 1) {
        return {};
    }
    return std::wstring(units + at + 1, units[at]);
}

std::vector<LANGID> boxTextLanguages(HMODULE module) {
    std::vector<LANGID> languages{MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)};
    for (const LANGID language : boxTextTableLanguages(module)) {
        bool whole = true;
        for (const BoxText which :
             {BoxText::LauncherNotFound, BoxText::NoSignedLauncher, BoxText::CouldNotStart, BoxText::WindowsError}) {
            whole = whole && !storedBoxText(module, which, language).empty();
        }
        if (whole) {
            languages.push_back(language);
        }
    }
    return languages;
}

}  // namespace kes
