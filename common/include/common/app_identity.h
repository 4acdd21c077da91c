// The application user model identity of an install folder.
#pragma once

#include <windows.h>

#include <string>

namespace kes {

// "Kestrelwood.Launcher.Install" followed by the 16 lower-case hex digits of
// the 64-bit FNV-1a hash of the folder's normalised path: always 44 characters.
std::wstring makeAppUserModelId(const std::wstring& folder);

// What became of giving this process an identity.
struct IdentityOutcome {
    bool reached = false;  // shell32 and its SetCurrentProcessExplicitAppUserModelID were found
    DWORD error = 0;       // not reached: why not
    HRESULT result = E_FAIL;  // reached: what the shell answered
};

// SetCurrentProcessExplicitAppUserModelID, from shell32 in the system folder.
IdentityOutcome applyAppUserModelId(const std::wstring& identity);

}  // namespace kes
