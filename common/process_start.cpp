#include "common/process_start.h"

namespace kes {

bool tryStartAgain(DWORD error, int failedTries) {
    return error == ERROR_INTERNAL_ERROR && failedTries < 3;
}

BOOL createProcessRetrying(const wchar_t* application, wchar_t* commandLine, BOOL inheritHandles, DWORD flags,
                           void* environment, const wchar_t* currentDirectory, STARTUPINFOW* startup,
                           PROCESS_INFORMATION* process) {
    for (int failedTries = 1;; ++failedTries) {
        if (CreateProcessW(application, commandLine, nullptr, nullptr, inheritHandles, flags, environment,
                           currentDirectory, startup, process)) {
            return TRUE;
        }
        const DWORD error = GetLastError();
        if (!tryStartAgain(error, failedTries)) {
            SetLastError(error);
            return FALSE;
        }
        Sleep(kStartRetryPauseMs);
    }
}

}  // namespace kes
