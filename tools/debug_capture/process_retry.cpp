#include "process_retry.h"

namespace kes {

BOOL createProcessRetrying(const wchar_t* application, wchar_t* commandLine, BOOL inheritHandles, DWORD flags,
                           void* environment, const wchar_t* currentDirectory, STARTUPINFOW* startup,
                           PROCESS_INFORMATION* process) {
    constexpr int kAttempts = 5;
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessW(application, commandLine, nullptr, nullptr, inheritHandles, flags, environment,
                           currentDirectory, startup, process)) {
            return TRUE;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_INTERNAL_ERROR || attempt == kAttempts) {
            SetLastError(error);
            return FALSE;
        }
        Sleep(200 * attempt);
    }
}

}  // namespace kes
