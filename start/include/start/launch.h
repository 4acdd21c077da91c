// Starting the chosen launcher and reporting a failed start.
#pragma once

#include <windows.h>

#include <string>

namespace kes {

// Starts the launcher with `commandLine` (its quoted path and every argument
// of this process forwarded, re-quoted). Returns 0 when the process was
// created, 1 otherwise (after telling the user why). With `held`
// (publisher pinning: the launcher held open since its check), it is created
// suspended and resumed only when its process runs the held file; otherwise
// that process is ended and kNotTheHeldFile returned, with no box, so that
// the caller passes the launcher over.
inline constexpr int kNotTheHeldFile = -1;
int launchLauncher(const std::wstring& chosenPath, std::wstring commandLine, HANDLE held);

// The "could not start" box with the Windows error (or the loader's status)
// in decimal.
void showCouldNotStart(unsigned long error);

// The debug line for a command line of its own that the start program cannot
// split (shell32 missing, or out of memory), with the last error: it then ends
// with 1 and no box.
void reportUnsplitCommandLine();

}  // namespace kes
