// Starting a process, with the one failure that the platform makes now and
// then tried again.
#pragma once

#include <windows.h>

namespace kes {

// Whether a start that has failed `failedTries` times, the last with
// `error`, is tried again: only ERROR_INTERNAL_ERROR (1359), which Wine gives
// under load for a start that succeeds when repeated, and at most twice more.
// Every other error is final.
bool tryStartAgain(DWORD error, int failedTries);

// The pause before a start is tried again.
inline constexpr DWORD kStartRetryPauseMs = 100;

// CreateProcessW (no security attributes), tried again while tryStartAgain
// says so, kStartRetryPauseMs apart. Returns what the last call returned,
// with its last error.
BOOL createProcessRetrying(const wchar_t* application, wchar_t* commandLine, BOOL inheritHandles, DWORD flags,
                           void* environment, const wchar_t* currentDirectory, STARTUPINFOW* startup,
                           PROCESS_INFORMATION* process);

}  // namespace kes
