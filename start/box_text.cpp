#include "start/box_text.h"

#include <algorithm>
#include <cstddef>

namespace kes {

namespace {

// In the order of BoxText.
constexpr const wchar_t* kEnglish[] = {
    L"The Kestrelwood launcher could not be found.\n\n"
    L"Keep KestrelwoodStart.exe in the game folder alongside the launcher.\n"
    L"If files are missing, extract the complete game download again.",

    L"No Kestrelwood launcher signed by the game's publisher was found.\n\n"
    L"The game folder may hold a changed or foreign launcher.\n"
    L"Extract the complete game download again.",

    L"Could not start the Kestrelwood launcher.\n"
    L"Open the game folder and try the versioned launcher directly.",

    L"Windows error: ",
};

#ifdef KES_START_LANGUAGES
// Chinese without a region but in Traditional characters (zh-Hant, 0x7C04).
constexpr WORD kSublangChineseTraditionalScript = 0x1F;

// The table for the user's interface language: its own language and
// sublanguage; else, for Chinese, the script that its region reads
// (Traditional in Taiwan, Hong Kong and Macao, Simplified elsewhere); else
// the table of its primary language (one per language, Brazilian for every
// Portuguese). 0: none, the texts stay English.
LANGID tableLanguageFor(LANGID interfaceLanguage, const std::vector<LANGID>& stored) {
    const auto isStored = [&stored](LANGID language) {
        return std::find(stored.begin(), stored.end(), language) != stored.end();
    };
    if (isStored(interfaceLanguage)) {
        return interfaceLanguage;
    }
    if (PRIMARYLANGID(interfaceLanguage) == LANG_CHINESE) {
        const WORD region = SUBLANGID(interfaceLanguage);
        const bool traditional = region == SUBLANG_CHINESE_TRADITIONAL || region == SUBLANG_CHINESE_HONGKONG ||
                                 region == SUBLANG_CHINESE_MACAU || region == kSublangChineseTraditionalScript;
        const LANGID script =
            MAKELANGID(LANG_CHINESE, traditional ? SUBLANG_CHINESE_TRADITIONAL : SUBLANG_CHINESE_SIMPLIFIED);
        return isStored(script) ? script : 0;
    }
    for (const LANGID language : stored) {
        if (PRIMARYLANGID(language) == PRIMARYLANGID(interfaceLanguage)) {
            return language;
        }
    }
    return 0;
}
#endif

}  // namespace

std::wstring boxText(BoxText which) {
#ifdef KES_START_LANGUAGES
    // The program's own image, whatever file now lies at its path.
    const HMODULE self = GetModuleHandleW(nullptr);
    const LANGID language = tableLanguageFor(GetUserDefaultUILanguage(), boxTextTableLanguages(self));
    if (language != 0) {
        std::wstring text = storedBoxText(self, which, language);
        if (!text.empty()) {
            return text;
        }
    }
#endif
    return kEnglish[static_cast<std::size_t>(which)];
}

}  // namespace kes
