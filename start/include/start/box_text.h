// The texts of the start program's warning boxes, in English or, in a build
// with KES_START_LANGUAGES, in the player's language.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kes {

enum class BoxText {
    LauncherNotFound,
    NoSignedLauncher,
    CouldNotStart,
    WindowsError,  // the label before the number: "Windows error: "
};

// The text in the user's interface language when this program carries it,
// else (and in a build without languages always) the English text.
std::wstring boxText(BoxText which);

// One box text as `module`'s string table in `language` holds it; empty
// when it holds none or cannot be read.
std::wstring storedBoxText(HMODULE module, BoxText which, LANGID language);

// The languages of `module`'s box text tables, as its resources list them.
std::vector<LANGID> boxTextTableLanguages(HMODULE module);

// The languages in which `module` carries every box text: English, which
// every start program carries in its code, first; then those of its tables.
std::vector<LANGID> boxTextLanguages(HMODULE module);

}  // namespace kes
