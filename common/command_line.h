// Writing an argument back into a Windows command line.
#pragma once

#include <windows.h>

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

// Splits this process's own command line and appends every argument after the
// program's name to commandLine, each as one blank and its quoted form, in
// order; an argument equal to `skip` (when given) is left out. Returns false,
// appending nothing, when the command line cannot be split.
bool appendForwardedArguments(std::wstring& commandLine, const wchar_t* skip);

// Starts `application` with a writable copy of `commandLine`: no inherited
// handles, creation flags 0, and this process's environment and current
// directory. A command line over kMaxCommandLineUnits is refused with
// ERROR_FILENAME_EXCED_RANGE, as Windows refuses it. On success fills
// `process`, whose two handles the caller closes; on failure sets `error`.
bool startProcess(const std::wstring& application, const std::wstring& commandLine, PROCESS_INFORMATION& process,
                  DWORD& error);

}  // namespace kes
