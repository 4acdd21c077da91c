// Writing an argument back into a Windows command line.
#pragma once

#include <cstddef>
#include <string>

namespace kes {

// Process creation accepts a command line of at most 32767 units including its
// terminating NUL. Windows refuses a longer one with error 206
// (ERROR_FILENAME_EXCED_RANGE); Wine cuts it silently, so callers check first.
inline constexpr std::size_t kMaxCommandLineUnits = 32766;

// The argument between double quotes, escaped so that CommandLineToArgvW (and
// the C runtime) split it back into exactly the same text.
std::wstring quoteCommandLineArg(const std::wstring& arg);

}  // namespace kes
