// Writing an argument back into a Windows command line.
#pragma once

#include <string>

namespace kes {

// The argument between double quotes, escaped so that CommandLineToArgvW (and
// the C runtime) split it back into exactly the same text.
std::wstring quoteCommandLineArg(const std::wstring& arg);

}  // namespace kes
