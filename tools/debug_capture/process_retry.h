// Starting a process from the tools and tests, which run under Wine.
#pragma once

#include <windows.h>

namespace kes {

// CreateProcessW, tried again when it fails with ERROR_INTERNAL_ERROR (1359):
// Wine, under load, now and then fails a start that way, and a second try
// succeeds. Any other failure is returned at once, with GetLastError set.
BOOL createProcessRetrying(const wchar_t* application, wchar_t* commandLine, BOOL inheritHandles, DWORD flags,
                           void* environment, const wchar_t* currentDirectory, STARTUPINFOW* startup,
                           PROCESS_INFORMATION* process);

}  // namespace kes
