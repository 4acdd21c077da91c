// Writing arguments back into a Windows command line.
#pragma once

#include <cstddef>
#include <string>

#include "common/win_owners.h"

namespace kes {

// Process creation accepts a command line of at most 32767 units including its
// terminating NUL. Windows refuses a longer one with error 206
// (ERROR_FILENAME_EXCED_RANGE); Wine cuts it silently, so starters check first.
inline constexpr std::size_t kMaxCommandLineUnits = 32766;

// The argument between double quotes, escaped so that CommandLineToArgvW (and
// the C runtime) split it back into exactly the same text.
std::wstring quoteCommandLineArg(const std::wstring& arg);

// CommandLineToArgvW of shell32, loaded from the system folder when first
// needed rather than imported. Under Wine, shell32 and the user32 it imports
// load version.dll by name, so a program that imports them takes a
// version.dll planted in its folder; loaded from the system folder, their own
// imports come from there too. Null when shell32 cannot be loaded or the line
// cannot be split.
UniqueArgv splitCommandLine(const wchar_t* commandLine, int& count);

// This process's own arguments after the program's name, as the platform
// splits its command line, each written back as one blank and its quoted form,
// in order; an argument equal to `skip` (when given) is left out.
struct ForwardedArguments {
    bool split = false;  // false when the command line cannot be split
    std::wstring text;
};

ForwardedArguments forwardedArguments(const wchar_t* skip);

}  // namespace kes
